#pragma once
// The pages of the window test's site (apart, since moc does not read raw
// strings), and the page-side half of its byte checks.
#include <QByteArray>
#include <QString>

namespace {

const QByteArray kHome = R"html(<!DOCTYPE html>
<html><head><meta charset="utf-8"><title>Home page</title>
<link rel="stylesheet" href="css/site.css"><script src="js/app.js"></script></head>
<body><h1>Welcome</h1><p id="words">apple pear apple plum apple</p>
<img id="pic" src="images/pic.png">
<a id="sub" href="pages/sub%20page.html">sub</a>
<a id="cafe" href="caf&#233;.html">cafe</a>
<a id="frag" href="#end">end</a>
<a id="missing" href="nothing/here.html">missing</a>
<a id="ext" href="https://example.com/x?y=1">ext</a>
<a id="mail" href="mailto:someone@example.com">mail</a>
<a id="blank" href="https://example.org/" target="_blank">blank</a>
<a id="direct" href="downloads/setup.exe">setup</a>
<a id="guide" href="docs/guide.pdf">guide</a>
<a id="zip" href="files/data.zip">zip</a>
<a id="saved" href="notes/README" download>saved page</a>
<button id="full" onclick="document.documentElement.requestFullscreen()">full screen</button>
<div style="height: 3000px"></div><div id="end">the end</div>
</body></html>
)html";

const QByteArray kSubPage = R"html(<!DOCTYPE html>
<html><head><title>Sub page</title><link rel="stylesheet" href="../css/site.css"></head>
<body><img id="pic" src="../images/pic.png"><a id="back" href="../index.html">home</a></body></html>
)html";

// A page that tries, from timers and without a click, every way out of its
// file: downloads of packed files, navigations to a file beside the output
// and to other addresses, a pop-up, and requests of every kind to this
// machine (PORT: the test's listener) and to the internet (internet.test,
// which the test maps to the same listener). window.__done lists how each
// request ended.
const QByteArray kHostile = R"html(<!DOCTYPE html>
<html><head><meta charset="utf-8"><title>Hostile</title></head>
<body><a id="payload" href="files/payload.desktop">payload</a>
<script>
const local = 'http://127.0.0.1:PORT', others = [local, 'http://localhost:PORT', 'http://[::ffff:7f00:1]:PORT',
                                                 'http://other.localhost:PORT', 'http://internet.test:PORT'];
const settled = [];
const outcome = p => settled.push(p.then(() => 'reached', () => 'refused'));
const later = f => setTimeout(f, 0);
const download = href => { const a = document.createElement('a'); a.href = href; a.download = '';
                           document.body.appendChild(a); a.click(); };
later(() => download('files/payload.desktop'));
later(() => download('docs/guide.pdf'));
later(() => { location.href = 'downloads/setup.exe'; });
later(() => { window.open('https://internet.test:PORT/popup'); });
later(() => { location.href = 'https://internet.test:PORT/away'; });
later(() => { location.href = 'mailto:someone@internet.test'; });
for (const base of others) {
  outcome(fetch(base + '/fetch', {mode: 'no-cors'}));
  outcome(new Promise((ok, no) => { const i = new Image(); i.onload = ok; i.onerror = no; i.src = base + '/i.png'; }));
  outcome(new Promise((ok, no) => { const w = new WebSocket(base.replace('http', 'ws') + '/ws');
                                    w.onopen = ok; w.onerror = no; }));
  try { navigator.sendBeacon(base + '/beacon', 'x'); } catch (e) {}
}
const frame = document.createElement('iframe'); frame.src = local + '/frame'; document.body.appendChild(frame);
later(() => Promise.all(settled).then(r => { window.__done = r.join(' '); }));
</script></body></html>
)html";

// An internet image, and requests to this machine that stay refused when
// the internet is allowed.
const QByteArray kInternetPage = R"html(<!DOCTYPE html>
<html><head><title>Internet</title></head>
<body><img id="net" src="http://internet.test:PORT/net.png">
<script>
const outcome = p => p.then(() => 'reached', () => 'refused');
addEventListener('load', () => Promise.all([
  outcome(fetch('http://127.0.0.1:PORT/fetch', {mode: 'no-cors'})),
  outcome(new Promise((ok, no) => { const w = new WebSocket('ws://127.0.0.1:PORT/ws'); w.onopen = ok; w.onerror = no; })),
]).then(r => { window.__local = r.join(' '); }));
</script></body></html>
)html";

// A saved page of a server script, without a charset, whose references
// start at the site's root; and a form that would post back to its server.
const QByteArray kScriptPage = R"html(<!DOCTYPE html>
<html><head><title>Topic</title><link rel="stylesheet" href="/css/root.css"></head>
<body><h1>Caf)html" "\xC3\xA9" R"html( menu</h1><img id="logo" src="/images/pic.png">
<a id="other" href="/other.html">other</a> <a id="folder" href="/docs">docs</a>
<form method="post" action="reply.php"><input name="text" value="hello"><button id="send">send</button></form>
</body></html>
)html";

QString Sum(const QByteArray& bytes)
{
    quint64 sum = 0;
    for (const char c : bytes)
        sum = (sum * 31 + static_cast<unsigned char>(c)) % 1000000007u;
    return QString::number(sum);
}

// The same sum in the page, over bytes fetched with an optional Range.
QString FetchScript(const QString& path, const QString& range)
{
    return QStringLiteral(R"(window.__r = undefined;
fetch('%1', %2).then(async r => {
  const b = new Uint8Array(await r.arrayBuffer());
  let s = 0; for (const x of b) s = (s * 31 + x) %% 1000000007;
  window.__r = r.status + ' ' + (r.headers.get('Content-Range') || '-') + ' ' + b.length + ' ' + s;
}); true)")
        .arg(path, range.isEmpty() ? QStringLiteral("{}") : QStringLiteral("{headers: {Range: '%1'}}").arg(range))
        .replace(QLatin1String("%%"), QLatin1String("%"));
}

} // namespace
