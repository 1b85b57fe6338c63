#include "services/VersionCheckUi.h"

#include "services/DialogService.h"
#include "services/ShellService.h"
#include "main.h"

#include <QUrl>

namespace qv::app {

const char* const kVersionFeedAddress = "https://www.quorvane.example/quorvane/quorvane.xml";
const char* const kInstallerAddress = "https://www.quorvane.example/downloads/quorvane.exe";

TVersionCheckHolder::TVersionCheckHolder(Tmainform& mainform)
    : QObject(&mainform), checker_(std::make_unique<VersionCheck>(mainform.Dispatcher(), *this))
{
    setObjectName(QStringLiteral("VersionCheck1"));
    VersionCheck& c = *checker_;
    c.URLCurrVerFile = kVersionFeedAddress;
    c.DownloadURL = kInstallerAddress;
    c.SiteName = VersionCheck::kPublisherHost;
    c.FailureDlg = true;
    c.DownloadDlg = true;
}

TVersionCheckHolder::~TVersionCheckHolder()
{
    // Waits for a running check before the messages' target goes away.
    checker_.reset();
}

// The boxes have no owner window, as the check's answer may come while
// any window is in front.
void TVersionCheckHolder::ErrorBox(const std::string& text)
{
    Dialogs().ErrorBox(nullptr, QString::fromStdString(text));
}

bool TVersionCheckHolder::ConfirmYesNo(const std::string& text)
{
    return Dialogs().Question(nullptr, QString::fromStdString(text));
}

void TVersionCheckHolder::ConfirmOk(const std::string& text)
{
    Dialogs().Notice(nullptr, QString::fromStdString(text));
}

void TVersionCheckHolder::OpenUrl(const std::string& url)
{
    Shell().Open(QUrl(QString::fromStdString(url)));
}

void CreateVersionCheck(Tmainform& mainform)
{
    auto* holder = new TVersionCheckHolder(mainform);
    mainform.SetUpdateCheck([holder] { holder->Checker().CheckVersion(); });
}

void DestroyVersionCheck(Tmainform& mainform)
{
    mainform.SetUpdateCheck({});
    delete mainform.findChild<TVersionCheckHolder*>(QString(), Qt::FindDirectChildrenOnly);
}

VersionCheck* VersionChecker(Tmainform& mainform)
{
    auto* holder = mainform.findChild<TVersionCheckHolder*>(QString(), Qt::FindDirectChildrenOnly);
    return holder ? &holder->Checker() : nullptr;
}

} // namespace qv::app
