#pragma once
#include "quorvane/check/SiteCheck.h"

#include <QObject>
#include <QString>

#include <atomic>
#include <thread>

namespace qv::app {

// One link check at a time, on a thread of its own so the window stays
// live. Start takes a copy of the settings; each Start ends in exactly one
// of Finished, Failed or Cancelled, emitted on this object's thread. A
// check cancelled ends as Cancelled even when it had just come through,
// since the user no longer waits for it. Destroying the job stops the
// check and waits for its thread.
class SiteCheckJob final : public QObject {
    Q_OBJECT
public:
    explicit SiteCheckJob(QObject* parent = nullptr);
    ~SiteCheckJob() override;

    bool Running() const { return worker_.joinable(); }
    // Returns false, and starts nothing, while a check runs; throws what
    // starting a thread throws.
    bool Start(const ProjectSettingsRecord& settings);
    void Cancel() { cancel_ = true; }
    // The last check that came through.
    const CheckReport& Report() const { return report_; }

signals:
    // Pages and stylesheets read, of how many; at most one a permille.
    void Progress(qulonglong done, qulonglong total);
    void Finished();
    void Failed(const QString& message);
    void Cancelled();

private:
    void Reached(size_t done, size_t total);
    void End(CheckReport report, const QString& failure);

    std::thread worker_;
    std::atomic<bool> cancel_{false};
    std::atomic<long> permille_{-1};
    CheckReport report_;
};

} // namespace qv::app
