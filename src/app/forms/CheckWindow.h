#pragma once
#include "quorvane/project/ProjectSettings.h"

#include <QWidget>

class QLabel;
class QProgressBar;
class QPushButton;
class QTreeWidget;
class QTreeWidgetItem;

namespace qv::app {

class SiteCheckJob;

// The link check's window: its progress while it runs, then one row per
// problem (page, line, reference, problem) under a summary. Activating a
// row asks for its page to be shown.
class CheckWindow final : public QWidget {
    Q_OBJECT
public:
    explicit CheckWindow(QWidget* owner);

    QLabel* Summary;
    QProgressBar* Progress;
    QPushButton* CancelButton;
    QTreeWidget* Findings;

    // Shows the window and checks `settings`; while a check runs, only
    // shows the window. Throws what starting a thread throws.
    void Check(const ProjectSettingsRecord& settings);
    bool Running() const;

signals:
    // The full path of a finding's page.
    void PageChosen(const QString& file);
    // The check finished, failed (after the error box) or was cancelled.
    void CheckEnded();

private:
    void Reached(qulonglong done, qulonglong total);
    void ShowReport();
    void Stopped(const QString& summary);
    void Activated(QTreeWidgetItem* row);

    SiteCheckJob* job_;
    QString root_;
};

// "1 problem on 1 page", or "No broken links".
QString FindingsSummary(size_t findings, size_t pages);

} // namespace qv::app
