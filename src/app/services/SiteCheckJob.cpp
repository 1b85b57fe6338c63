#include "services/SiteCheckJob.h"

#include <exception>

namespace qv::app {

SiteCheckJob::SiteCheckJob(QObject* parent) : QObject(parent) {}

SiteCheckJob::~SiteCheckJob()
{
    cancel_ = true;
    if (worker_.joinable())
        worker_.join();
    // Its hand-over, if already posted, goes with this object's events.
}

bool SiteCheckJob::Start(const ProjectSettingsRecord& settings)
{
    if (Running())
        return false;
    cancel_ = false;
    permille_ = -1;
    worker_ = std::thread([this, settings] {
        CheckControl control;
        control.cancel = &cancel_;
        control.progress = [this](size_t done, size_t total) { Reached(done, total); };
        CheckReport report;
        QString failure;
        try {
            report = CheckSite(settings, 0, control);
        } catch (const std::exception& e) {
            failure = QString::fromStdString(e.what());
        } catch (...) {
            failure = QStringLiteral("Unknown failure");
        }
        QMetaObject::invokeMethod(
            this, [this, report = std::move(report), failure]() mutable { End(std::move(report), failure); },
            Qt::QueuedConnection);
    });
    return true;
}

// Runs on the check's threads; a big site would flood the window with one
// report a page.
void SiteCheckJob::Reached(size_t done, size_t total)
{
    const long now = total ? static_cast<long>(done * 1000 / total) : 1000;
    long before = permille_.load();
    while (now > before)
        if (permille_.compare_exchange_weak(before, now)) {
            emit Progress(done, total);
            return;
        }
}

void SiteCheckJob::End(CheckReport report, const QString& failure)
{
    worker_.join();
    if (cancel_) {
        emit Cancelled();
        return;
    }
    if (!failure.isEmpty()) {
        emit Failed(failure);
        return;
    }
    report_ = std::move(report);
    emit Finished();
}

} // namespace qv::app
