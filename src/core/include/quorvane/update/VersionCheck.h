#pragma once
#include "quorvane/compile/Dispatcher.h"
#include "quorvane/base/Text.h"
#include "quorvane/update/ProgramVersion.h"
#include "quorvane/platform/Http.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>

namespace qv {

// What the version check shows; the program's window layer implements it
// with message boxes and the desktop's "open", tests with a recorder. Every
// call comes on the user-interface thread with the exact text to show.
class VersionCheckUi {
public:
    virtual ~VersionCheckUi() = default;
    virtual void ErrorBox(const std::string& text) = 0;          // error icon, OK
    virtual bool ConfirmYesNo(const std::string& text) = 0;      // question, Yes / No; true for Yes
    virtual void ConfirmOk(const std::string& text) = 0;         // question icon, OK only
    virtual void OpenUrl(const std::string& url) = 0;            // the user's web browser
};

// Four whole numbers joined by dots ("4.5.0.0"), each at most 4294967295;
// nothing for any other text.
std::optional<std::array<uint32_t, 4>> ParseVersion(const std::string& text);

// True when `candidate` is a later version than `own`, piece by piece from
// the left (4.5.100.0 is after 4.5.99.0 and before 4.6.0.0). False when
// they are equal or either is not a four-part version.
bool IsNewerVersion(const std::string& candidate, const std::string& own);

class VersionCheck;

// The worker of one check. Created suspended by VersionCheck::CheckVersion,
// which starts it; it fetches the version text, then runs ReportResult on
// the user-interface thread through the dispatcher and waits for it. Its
// owner waits for it (Wait) before freeing it.
class VersionDownload {
public:
    VersionDownload(VersionCheck& checker, bool failureDlg, const std::string& urlCurrVerFile);
    ~VersionDownload();   // waits for a started thread
    VersionDownload(const VersionDownload&) = delete;
    VersionDownload& operator=(const VersionDownload&) = delete;

    VersionCheck* Checker;
    std::string Url;
    std::string VersionText;
    bool Failed = false;
    bool ShowFailure;

    void Start();
    // The download never looks at the request to terminate, so a check that
    // was told to end still shows its messages...
    void Terminate() { terminated_ = true; }
    bool Terminated() const { return terminated_; }
    // ...unless it was muted because its component is going away.
    void Mute() { muted_ = true; }
    bool Finished() const { return finished_; }

    // Fetches the version text of `address` into `text`: 0 on success, -1
    // when nothing usable came back (no connection, a status other than
    // 2xx, a body over the bound, or a text that is not a four-part version).
    int DownloadVersionText(const std::string& address, std::string& text);
    void ReportResult();

private:
    void Execute();

    http::Options endpoint_;
    Dispatcher& dispatcher_;
    VersionCheckUi& ui_;
    std::atomic<bool> terminated_{false};
    std::atomic<bool> muted_{false};
    std::atomic<bool> finished_{false};
    std::thread thread_;
};

using DownloadOfferHandler =
    std::function<void(VersionCheck& Sender, const std::string& CurrentVersion, const std::string& DownloadURL)>;

// Asks the publisher's web server for the newest version and offers the
// download. Lives on the user-interface thread, which `dispatcher` serves;
// at most one worker at a time. Destruction waits for a running worker
// (serving the dispatcher meanwhile) and shows nothing more.
class VersionCheck {
public:
    static constexpr const char* kPublisherHost = "www.quorvane.example";

    // Reads the program's version information from `versionRecord` (the
    // running program's own; none: a program without one).
    VersionCheck(Dispatcher& dispatcher, VersionCheckUi& ui,
                  const VersionRecord* versionRecord = &OwnVersionRecord());
    ~VersionCheck();
    VersionCheck(const VersionCheck&) = delete;
    VersionCheck& operator=(const VersionCheck&) = delete;

    bool FailureDlg = false;
    std::string URLCurrVerFile = "https://www.quorvane.example/quorvane/quorvane.xml";
    std::string SiteName = "Quorvane Software";
    DownloadOfferHandler OnGetURL;
    bool DownloadDlg = true;
    bool NoUpdatesDlg = true;
    std::string DownloadURL;

    bool VersioInfoPresent() const { return versionInfoPresent_; }
    const std::string& FileVersion() const { return fileVersion_; }
    const std::string& ProductName() const { return productName_; }
    const std::string& ProductDescription() const { return productDescription_; }

    // Starts one check and returns; an earlier worker is waited for first
    // (its messages still show during the wait). Ignored when asked for
    // while a check's answer is on screen or an earlier check is being
    // waited for: the worker of that check cannot end before the call
    // returns, so waiting for it there would never end.
    void CheckVersion();
    // Judges a fetched text and shows the messages; user-interface thread.
    // A text that is not a four-part version is a failed check (the error
    // box when FailureDlg is set); with an own version that is not one
    // nothing can be judged and nothing is shown.
    void ProcessVersion(const std::string& text);
    // Serves the dispatcher until the last worker has ended; the worker
    // stays in Thread() until the next check.
    void WaitForCheck();
    const VersionDownload* Thread() const { return thread_.get(); }

    // Where the request goes; the publisher's host on port 443 unless a
    // test points it elsewhere. Taken by each check when it starts.
    http::Options& Endpoint() { return endpoint_; }

private:
    friend class VersionDownload;

    std::unique_ptr<VersionDownload> thread_;
    Dispatcher& dispatcher_;
    VersionCheckUi& ui_;
    http::Options endpoint_;
    bool inCall_ = false;   // a wait or a report is running on the user-interface thread
    bool versionInfoPresent_ = false;
    std::string fileVersion_, productName_, productDescription_;
};

} // namespace qv
