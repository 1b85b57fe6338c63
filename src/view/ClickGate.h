#pragma once
#include <QElapsedTimer>
#include <QUrl>

namespace qv::view {

// Whether the reader, not a script, asked for what the page does now. A
// real click or key on the page arms it; the first navigation or hand-over
// that follows takes it, and an armed gate that nothing took soon goes
// cold, so a timer cannot ride on an old click.
class ClickGate {
public:
    // How long an input event vouches for what follows it.
    static constexpr qint64 kFreshMs = 5000;

    void Arm();
    // True (once) when armed and fresh.
    bool Take();
    // A clicked navigation to `url`, which may turn into a download.
    void Expect(const QUrl& url);
    // True (once) for the download of what a fresh click asked for; a
    // download no navigation announced (a `download` link) takes the gate.
    bool TakeDownload(const QUrl& url);

private:
    static bool Fresh(QElapsedTimer& since);

    QElapsedTimer armed_;
    QElapsedTimer expectedSince_;
    QUrl expected_;
};

} // namespace qv::view
