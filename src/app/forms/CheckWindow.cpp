#include "forms/CheckWindow.h"

#include "forms/Artwork.h"
#include "services/DialogService.h"
#include "services/SiteCheckJob.h"

#include "quorvane/base/Error.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <set>

namespace qv::app {

namespace {

enum Column { PageColumn, LineColumn, ReferenceColumn, ProblemColumn };

QString LinesText(const CheckFinding& f)
{
    if (f.line <= 0)
        return {};
    QStringList lines{QString::number(f.line)};
    for (int more : f.more)
        lines << QString::number(more);
    return lines.join(QStringLiteral(", "));
}

} // namespace

QString FindingsSummary(size_t findings, size_t pages)
{
    if (findings == 0)
        return QStringLiteral("No broken links");
    return QStringLiteral("%1 %2 on %3 %4")
        .arg(findings)
        .arg(findings == 1 ? QStringLiteral("problem") : QStringLiteral("problems"))
        .arg(pages)
        .arg(pages == 1 ? QStringLiteral("page") : QStringLiteral("pages"));
}

CheckWindow::CheckWindow(QWidget* owner) : QWidget(owner, Qt::Window), job_(new SiteCheckJob(this))
{
    setObjectName(QStringLiteral("checkwindow"));
    setWindowTitle(QStringLiteral("Check Site"));
    setWindowIcon(CommandPicture(Picture::Check));
    resize(720, 360);

    Summary = new QLabel(this);
    Summary->setObjectName(QStringLiteral("summary"));
    Summary->setTextFormat(Qt::PlainText);
    Progress = new QProgressBar(this);
    Progress->setObjectName(QStringLiteral("progress"));
    Progress->setTextVisible(false);
    Progress->setMaximumHeight(17);
    CancelButton = new QPushButton(QStringLiteral("Cancel"), this);
    CancelButton->setObjectName(QStringLiteral("cancel"));
    CancelButton->setAutoDefault(false);

    Findings = new QTreeWidget(this);
    Findings->setObjectName(QStringLiteral("findings"));
    Findings->setHeaderLabels({QStringLiteral("Page"), QStringLiteral("Line"), QStringLiteral("Reference"),
                               QStringLiteral("Problem")});
    Findings->setRootIsDecorated(false);
    Findings->setUniformRowHeights(true);
    Findings->setAllColumnsShowFocus(true);
    Findings->setTextElideMode(Qt::ElideMiddle);
    Findings->header()->setStretchLastSection(true);
    Findings->setColumnWidth(PageColumn, 170);
    Findings->setColumnWidth(LineColumn, 50);
    Findings->setColumnWidth(ReferenceColumn, 180);

    auto* top = new QHBoxLayout;
    top->addWidget(Summary, 1);
    top->addWidget(Progress, 1);
    top->addWidget(CancelButton);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(Findings, 1);

    connect(CancelButton, &QPushButton::clicked, job_, &SiteCheckJob::Cancel);
    connect(job_, &SiteCheckJob::Progress, this, &CheckWindow::Reached);
    connect(job_, &SiteCheckJob::Finished, this, &CheckWindow::ShowReport);
    connect(job_, &SiteCheckJob::Cancelled, this, [this] { Stopped(QStringLiteral("The check was cancelled")); });
    connect(job_, &SiteCheckJob::Failed, this, [this](const QString& message) {
        Stopped(QString::fromStdString(ErrorBoxText(message.toStdString())));
        ShowErrorBox(this, message.toStdString());
    });
    // Double-click and Enter alike.
    connect(Findings, &QTreeWidget::itemActivated, this, &CheckWindow::Activated);
    Progress->hide();
    CancelButton->hide();
}

bool CheckWindow::Running() const
{
    return job_->Running();
}

void CheckWindow::Check(const ProjectSettingsRecord& settings)
{
    show();
    raise();
    activateWindow();
    if (!job_->Start(settings))
        return;
    Findings->clear();
    root_.clear();
    Summary->setText(QStringLiteral("Checking..."));
    Progress->setRange(0, 0); // busy until the pages are counted
    Progress->setVisible(true);
    CancelButton->setVisible(true);
}

void CheckWindow::Reached(qulonglong done, qulonglong total)
{
    // Reports from several threads may cross on their way here.
    if (Progress->maximum() == static_cast<int>(total) && Progress->value() >= static_cast<int>(done))
        return;
    Progress->setRange(0, static_cast<int>(total));
    Progress->setValue(static_cast<int>(done));
    Summary->setText(QStringLiteral("Reading %1 of %2 files").arg(done).arg(total));
}

void CheckWindow::ShowReport()
{
    const CheckReport& report = job_->Report();
    root_ = QString::fromStdString(report.root);
    std::set<std::string> pages;
    QList<QTreeWidgetItem*> rows;
    for (const CheckFinding& f : report.findings) {
        pages.insert(f.page);
        auto* row = new QTreeWidgetItem;
        row->setText(PageColumn, QString::fromStdString(f.page));
        row->setText(LineColumn, LinesText(f));
        row->setText(ReferenceColumn, QString::fromStdString(f.reference));
        row->setText(ProblemColumn, QString::fromStdString(f.message));
        row->setToolTip(ProblemColumn, QString::fromLatin1(KindName(f.kind)));
        for (int c : {PageColumn, ReferenceColumn})
            row->setToolTip(c, row->text(c));
        rows << row;
    }
    Findings->addTopLevelItems(rows);
    if (!rows.isEmpty())
        Findings->setCurrentItem(rows.first());
    Stopped(FindingsSummary(report.findings.size(), pages.size()));
}

void CheckWindow::Stopped(const QString& summary)
{
    Summary->setText(summary);
    Progress->setVisible(false);
    CancelButton->setVisible(false);
    emit CheckEnded();
}

void CheckWindow::Activated(QTreeWidgetItem* row)
{
    if (row && !root_.isEmpty())
        emit PageChosen(root_ + row->text(PageColumn));
}

} // namespace qv::app
