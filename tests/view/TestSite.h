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
<button id="full" onclick="document.documentElement.requestFullscreen()">full screen</button>
<div style="height: 3000px"></div><div id="end">the end</div>
</body></html>
)html";

const QByteArray kSubPage = R"html(<!DOCTYPE html>
<html><head><title>Sub page</title><link rel="stylesheet" href="../css/site.css"></head>
<body><img id="pic" src="../images/pic.png"><a id="back" href="../index.html">home</a></body></html>
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
