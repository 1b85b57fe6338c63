#include "ClickGate.h"

namespace qv::view {

bool ClickGate::Fresh(QElapsedTimer& since)
{
    const bool fresh = since.isValid() && since.elapsed() < kFreshMs;
    since.invalidate();
    return fresh;
}

void ClickGate::Arm()
{
    armed_.start();
}

bool ClickGate::Take()
{
    return Fresh(armed_);
}

void ClickGate::Expect(const QUrl& url)
{
    expected_ = url.adjusted(QUrl::RemoveFragment);
    expectedSince_.start();
}

bool ClickGate::TakeDownload(const QUrl& url)
{
    const bool announced = expected_ == url.adjusted(QUrl::RemoveFragment);
    expected_.clear();
    if (announced)
        return Fresh(expectedSince_);
    expectedSince_.invalidate();
    return Take();
}

} // namespace qv::view
