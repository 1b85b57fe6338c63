#include "services/VersionCheckUi.h"

#include "services/DialogService.h"
#include "services/ShellService.h"
#include "main.h"

#include <QUrl>

namespace qv::app {

const char* const kVersionFeedAddress = "https://www.quorvane.example/quorvane/quorvane.xml";
const char* const kInstallerAddress = "https://www.quorvane.example/downloads/quorvane.exe";

VersionCheckHolder::VersionCheckHolder(MainWindow& mainform)
    : QObject(&mainform), checker_(std::make_unique<VersionCheck>(mainform.Dispatcher(), *this))
{
    setObjectName(QStringLiteral("VersionCheck"));
    VersionCheck& c = *checker_;
    c.URLCurrVerFile = kVersionFeedAddress;
    c.DownloadURL = kInstallerAddress;
    c.SiteName = VersionCheck::kPublisherHost;
    c.FailureDlg = true;
    c.DownloadDlg = true;
}

VersionCheckHolder::~VersionCheckHolder()
{
    // Waits for a running check before the messages' target goes away.
    checker_.reset();
}

// The boxes have no owner window, as the check's answer may come while
// any window is in front.
void VersionCheckHolder::ErrorBox(const std::string& text)
{
    Dialogs().ErrorBox(nullptr, QString::fromStdString(text));
}

bool VersionCheckHolder::ConfirmYesNo(const std::string& text)
{
    return Dialogs().Question(nullptr, QString::fromStdString(text));
}

void VersionCheckHolder::ConfirmOk(const std::string& text)
{
    Dialogs().Notice(nullptr, QString::fromStdString(text));
}

void VersionCheckHolder::OpenUrl(const std::string& url)
{
    Shell().Open(QUrl(QString::fromStdString(url)));
}

void CreateVersionCheck(MainWindow& mainform)
{
    auto* holder = new VersionCheckHolder(mainform);
    mainform.SetUpdateCheck([holder] { holder->Checker().CheckVersion(); });
}

void DestroyVersionCheck(MainWindow& mainform)
{
    mainform.SetUpdateCheck({});
    delete mainform.findChild<VersionCheckHolder*>(QString(), Qt::FindDirectChildrenOnly);
}

VersionCheck* VersionChecker(MainWindow& mainform)
{
    auto* holder = mainform.findChild<VersionCheckHolder*>(QString(), Qt::FindDirectChildrenOnly);
    return holder ? &holder->Checker() : nullptr;
}

} // namespace qv::app
