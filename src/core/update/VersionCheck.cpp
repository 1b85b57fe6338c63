#include "quorvane/update/VersionCheck.h"
#include "quorvane/base/Text.h"

#include "quorvane/base/Error.h"
#include "quorvane/platform/CodePage.h"

#include <charconv>

namespace qv {

namespace {

const char* const kCrLf = "\r\n";

std::string FailureText(const std::string& url)
{
    return "Could not download file version information from: " + std::string(kCrLf) + url;
}

// Sets a flag for the length of a scope and puts back what it was, so a
// report nested in a wait does not clear the wait's flag.
class FlagScope {
public:
    explicit FlagScope(bool& flag) : flag_(flag), before_(flag) { flag_ = true; }
    ~FlagScope() { flag_ = before_; }
    FlagScope(const FlagScope&) = delete;
    FlagScope& operator=(const FlagScope&) = delete;

private:
    bool& flag_;
    bool before_;
};

} // namespace

std::optional<std::array<uint32_t, 4>> ParseVersion(const std::string& text)
{
    std::array<uint32_t, 4> pieces{};
    const char* at = text.data();
    const char* const end = text.data() + text.size();
    for (size_t i = 0; i < pieces.size(); ++i) {
        if (i > 0) {
            if (at == end || *at != '.')
                return std::nullopt;
            ++at;
        }
        // from_chars takes no sign or blank, so a piece is digits only.
        if (at == end || *at < '0' || *at > '9')
            return std::nullopt;
        auto [next, ec] = std::from_chars(at, end, pieces[i]);
        if (ec != std::errc())
            return std::nullopt;
        at = next;
    }
    if (at != end)
        return std::nullopt;
    return pieces;
}

bool IsNewerVersion(const std::string& candidate, const std::string& own)
{
    const auto c = ParseVersion(candidate);
    const auto o = ParseVersion(own);
    return c && o && *o < *c;
}

VersionDownload::VersionDownload(VersionCheck& checker, bool failureDlg, const std::string& urlCurrVerFile)
    : Checker(&checker), Url(urlCurrVerFile), ShowFailure(failureDlg), endpoint_(checker.endpoint_),
      dispatcher_(checker.dispatcher_), ui_(checker.ui_)
{
}

VersionDownload::~VersionDownload()
{
    if (thread_.joinable())
        thread_.join();
}

void VersionDownload::Start()
{
    if (!thread_.joinable() && !finished_)
        thread_ = std::thread([this] { Execute(); });
}

void VersionDownload::Execute()
{
    VersionText.clear();
    Failed = DownloadVersionText(Url, VersionText) != 0;
    try {
        dispatcher_.Synchronize([this] { ReportResult(); });
    } catch (...) {
        // A failure while reporting ends the check; there is nobody to tell.
    }
    finished_ = true;
    dispatcher_.Wake();
}

int VersionDownload::DownloadVersionText(const std::string& address, std::string& text)
{
    const std::string object = "/pad/getpad.php?pad=" + http::ExtractUrlPath(address) + "&field=version";
    http::Response reply;
    try {
        reply = http::Get(endpoint_, object);
    } catch (const Error&) {
        return -1;
    }
    // An error page is not a version, whatever it says.
    if (reply.status < 200 || reply.status > 299)
        return -1;
    text = TrimControls(codepage::FromAnsi(reply.body));
    return !text.empty() && ParseVersion(text) ? 0 : -1;
}

void VersionDownload::ReportResult()
{
    if (muted_)
        return;
    FlagScope reporting(Checker->inCall_);
    if (!Failed)
        Checker->ProcessVersion(VersionText);
    else if (ShowFailure)
        ui_.ErrorBox(FailureText(Url));
}

VersionCheck::VersionCheck(Dispatcher& dispatcher, VersionCheckUi& ui, const VersionRecord* versionRecord)
    : dispatcher_(dispatcher), ui_(ui)
{
    endpoint_.host = kPublisherHost;
    endpoint_.port = 443;
    versionInfoPresent_ = ReadVersionInfo(fileVersion_, productName_, productDescription_, versionRecord);
}

VersionCheck::~VersionCheck()
{
    if (!thread_)
        return;
    thread_->Terminate();
    thread_->Mute();
    try {
        WaitForCheck();
    } catch (...) {
        // Nothing sensible is left to do; the worker is joined below.
    }
    thread_.reset();
}

void VersionCheck::WaitForCheck()
{
    if (!thread_)
        return;
    VersionDownload* worker = thread_.get();
    dispatcher_.ServeUntil([worker] { return worker->Finished(); });
}

void VersionCheck::CheckVersion()
{
    if (inCall_)
        return;
    if (thread_) {
        FlagScope waiting(inCall_);
        thread_->Terminate();
        WaitForCheck();
        thread_.reset();
    }
    thread_ = std::make_unique<VersionDownload>(*this, FailureDlg, URLCurrVerFile);
    thread_->Start();
}

void VersionCheck::ProcessVersion(const std::string& text)
{
    if (!versionInfoPresent_)
        return;
    if (OnGetURL)
        OnGetURL(*this, text, DownloadURL);
    const std::string candidate = TrimControls(text);
    if (!ParseVersion(candidate)) {
        if (FailureDlg)
            ui_.ErrorBox(FailureText(URLCurrVerFile));
        return;
    }
    if (!ParseVersion(fileVersion_))
        return;
    if (IsNewerVersion(candidate, fileVersion_)) {
        if (DownloadDlg &&
            ui_.ConfirmYesNo("There is a new version " + candidate + " of this program" + kCrLf + "available at " +
                             SiteName + kCrLf + "Do you want to download it now?"))
            ui_.OpenUrl(DownloadURL);
    } else if (NoUpdatesDlg) {
        ui_.ConfirmOk("You already have the latest version " + fileVersion_ + " of this program");
    }
}

} // namespace qv
