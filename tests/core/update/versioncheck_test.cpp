#include "TestSupport.h"
#include "TlsServer.h"

#include "quorvane/update/VersionCheck.h"
#include "quorvane/update/ProgramVersion.h"
#include "quorvane/platform/Http.h"

#include <gtest/gtest.h>

#include <memory>
#include <thread>

using qvtest::TlsServer;

namespace {

// ---- comparing and reading versions ----------------------------------------

TEST(IsNewerVersion, ComparesPieceByPieceAsNumbers)
{
    struct Case {
        const char* candidate;
        const char* own;
        bool newer;
    };
    const Case cases[] = {
        {"4.5.0.1", "4.5.0.0", true},
        {"4.5.0.0", "4.5.0.0", false},
        {"4.4.9.9", "4.5.0.0", false},
        {"5.0.0.0", "4.99.99.99", true},
        {"4.5.100.0", "4.5.99.0", true},
        {"4.5.100.0", "4.6.0.0", false},
        {"4.6.0.0", "4.5.100.0", true},
        {"4.5.0.10", "4.5.0.9", true},
        {"10.0.0.0", "9.9999.9999.9999", true},
        {"4294967295.0.0.0", "4294967294.9.9.9", true},
        {"0.0.0.1", "0.0.0.0", true},
        {"04.05.00.01", "4.5.0.0", true},   // leading zeros are still numbers
    };
    for (const auto& c : cases)
        EXPECT_EQ(qv::IsNewerVersion(c.candidate, c.own), c.newer) << c.candidate << " vs " << c.own;
}

TEST(IsNewerVersion, TextsThatAreNotFourPartVersionsAreNeverNewer)
{
    for (const char* bad : {"5", "4.5.1", "4.5.0.0.1", "4.5.x.0", "4..0.0", ".4.5.0", "4.5.0.", "-4.5.0.0",
                            "+4.5.0.0", "4.5.0.0 ", " 4.5.0.0", "4.5.0.4294967296", "", "<html>", "4,5,0,0"}) {
        EXPECT_FALSE(qv::ParseVersion(bad)) << bad;
        EXPECT_FALSE(qv::IsNewerVersion(bad, "0.0.0.0")) << bad;
        EXPECT_FALSE(qv::IsNewerVersion("9.9.9.9", bad)) << bad;
    }
    auto v = qv::ParseVersion("4.5.100.7");
    ASSERT_TRUE(v);
    EXPECT_EQ(*v, (std::array<uint32_t, 4>{4, 5, 100, 7}));
}

TEST(TrimControls, RemovesBlanksLineEndsAndControlsAtBothEnds)
{
    EXPECT_EQ(qv::TrimControls(std::string(" \t\r\n4.5.0.1\r\n\0", 14)), "4.5.0.1");
    EXPECT_EQ(qv::TrimControls("\x01\x1f 4.5 0.1\x7f "), "4.5 0.1\x7f");
    EXPECT_EQ(qv::TrimControls(" \r\n "), "");
    EXPECT_EQ(qv::TrimControls(""), "");
}

TEST(ReadVersionInfo, OwnRecordHasTheProjectVersionAndNoProductName)
{
    std::string fileVersion = "x", productName = "x", description = "x";
    EXPECT_TRUE(qv::ReadVersionInfo(fileVersion, productName, description));
    EXPECT_EQ(fileVersion, "4.5.0.0");
    EXPECT_EQ(productName, "");
    EXPECT_EQ(description, "Quorvane Compiler");

    const auto& own = qv::OwnVersionRecord();
    EXPECT_EQ(qv::QueryVersionValue(own, "\\VarFileInfo\\Translation"), std::string("\x09\x04\xE4\x04", 4));
    EXPECT_EQ(qv::QueryVersionValue(own, "\\StringFileInfo\\040904E4\\ProductVersion"), "4.5.0.0");
    EXPECT_EQ(qv::QueryVersionValue(own, "stringfileinfo\\040904e4\\fileversion"), "4.5.0.0");
    EXPECT_TRUE(qv::QueryVersionValue(own, "\\StringFileInfo\\040904E4\\CompanyName"));
    EXPECT_FALSE(qv::QueryVersionValue(own, "\\StringFileInfo\\040904E4\\ProductName"));
    EXPECT_FALSE(qv::QueryVersionValue(own, "\\StringFileInfo\\040704E4\\FileVersion"));
}

TEST(ReadVersionInfo, NoRecordOrNoTranslationReadsNothing)
{
    std::string fileVersion = "x", productName = "x", description = "x";
    EXPECT_FALSE(qv::ReadVersionInfo(fileVersion, productName, description, nullptr));
    EXPECT_EQ(fileVersion + productName + description, "");

    qv::VersionRecord noTranslation;
    noTranslation.stringTables["040904E4"]["FileVersion"] = "1.2.3.4";
    fileVersion = "x";
    EXPECT_FALSE(qv::ReadVersionInfo(fileVersion, productName, description, &noTranslation));
    EXPECT_EQ(fileVersion, "");
}

TEST(ReadVersionInfo, UsesTheFirstTranslationsStringTable)
{
    qv::VersionRecord record;
    record.translations = {{0x0407, 0x04B0}, {0x0409, 1252}};
    record.stringTables["040704B0"] = {{"FileVersion", "2.0.0.1"}, {"ProductName", "Beispiel"}};
    record.stringTables["040904E4"] = {{"FileVersion", "9.9.9.9"}, {"FileDescription", "Sample"}};
    std::string fileVersion, productName, description = "x";
    EXPECT_TRUE(qv::ReadVersionInfo(fileVersion, productName, description, &record));
    EXPECT_EQ(fileVersion, "2.0.0.1");
    EXPECT_EQ(productName, "Beispiel");
    EXPECT_EQ(description, "");   // missing in that table, though the other has it

    qv::VersionRecord emptyTable;
    emptyTable.translations = {{0x0409, 1252}};
    fileVersion = "x";
    EXPECT_TRUE(qv::ReadVersionInfo(fileVersion, productName, description, &emptyTable));
    EXPECT_EQ(fileVersion, "");
}

TEST(ExtractUrlPath, TakesThePathWithoutQuery)
{
    EXPECT_EQ(qv::http::ExtractUrlPath("https://www.quorvane.example/quorvane/quorvane.xml"), "/quorvane/quorvane.xml");
    EXPECT_EQ(qv::http::ExtractUrlPath("https://www.quorvane.example:8443/pad/file.xml?x=1&y=2#top"), "/pad/file.xml");
    EXPECT_EQ(qv::http::ExtractUrlPath("http://h.example/a%20b/c.xml"), "/a%20b/c.xml");
    EXPECT_EQ(qv::http::ExtractUrlPath("https://www.quorvane.example"), "/");
    EXPECT_EQ(qv::http::ExtractUrlPath(""), "");
    EXPECT_EQ(qv::http::ExtractUrlPath("not an address"), "");
    EXPECT_EQ(qv::http::ExtractUrlPath("/quorvane/quorvane.xml"), "");
    EXPECT_EQ(qv::http::ExtractUrlPath("https://h.example/" + std::string(2047, 'a')), "/" + std::string(2047, 'a'));
    EXPECT_EQ(qv::http::ExtractUrlPath("https://h.example/" + std::string(2048, 'a')), "");
}

// ---- the check against a local HTTPS server ---------------------------------

struct Shown {
    std::string kind;
    std::string text;
    std::thread::id thread;
    bool operator==(const Shown& o) const { return kind == o.kind && text == o.text; }
};

std::ostream& operator<<(std::ostream& out, const Shown& s)
{
    return out << s.kind << ": " << s.text;
}

class RecordingUi : public qv::VersionCheckUi {
public:
    void ErrorBox(const std::string& text) override { Record("error", text); }
    bool ConfirmYesNo(const std::string& text) override
    {
        Record("yesno", text);
        return answerYes;
    }
    void ConfirmOk(const std::string& text) override { Record("ok", text); }
    void OpenUrl(const std::string& url) override { Record("open", url); }

    std::vector<Shown> shown;
    bool answerYes = false;
    std::function<void()> whileShown;

private:
    void Record(const char* kind, const std::string& text)
    {
        shown.push_back({kind, text, std::this_thread::get_id()});
        if (whileShown)
            whileShown();
    }
};

const std::string kFeed = "https://www.quorvane.example/quorvane/quorvane.xml";
const std::string kFailure = "Could not download file version information from: \r\n" + kFeed;
const std::string kUpToDate = "You already have the latest version 4.5.0.0 of this program";

std::string Offer(const std::string& version)
{
    return "There is a new version " + version + " of this program\r\navailable at www.quorvane.example\r\n"
           "Do you want to download it now?";
}

class VersionCheckTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        dir_ = new qvtest::TempDir;
        certificates_ = qvtest::MakeTestCertificates(dir_->path().string(), QV_OPENSSL);
    }
    static void TearDownTestSuite()
    {
        delete dir_;
        dir_ = nullptr;
    }

    void SetUp() override
    {
        server_ = std::make_unique<TlsServer>(certificates_.certificate, certificates_.key);
        check_ = MakeCheck(&qv::OwnVersionRecord());
    }

    std::unique_ptr<qv::VersionCheck> MakeCheck(const qv::VersionRecord* record)
    {
        auto check = std::make_unique<qv::VersionCheck>(dispatcher_, ui_, record);
        // As the main window sets it up.
        check->URLCurrVerFile = kFeed;
        check->DownloadURL = "https://www.quorvane.example/downloads/quorvane.exe";
        check->SiteName = "www.quorvane.example";
        check->FailureDlg = true;
        check->DownloadDlg = true;
        check->Endpoint().port = server_->port();
        check->Endpoint().caBundle = certificates_.authority;
        check->Endpoint().connectAddress = "127.0.0.1";
        return check;
    }

    // One whole check, the test's thread acting as the user-interface thread.
    std::vector<Shown> CheckWith(int status, const std::string& body)
    {
        server_->Queue(status, body);
        check_->CheckVersion();
        check_->WaitForCheck();
        return ui_.shown;
    }

    static qvtest::TempDir* dir_;
    static qvtest::TestCertificates certificates_;
    qv::QueueDispatcher dispatcher_;
    RecordingUi ui_;
    std::unique_ptr<TlsServer> server_;
    std::unique_ptr<qv::VersionCheck> check_;
};

qvtest::TempDir* VersionCheckTest::dir_ = nullptr;
qvtest::TestCertificates VersionCheckTest::certificates_;

TEST_F(VersionCheckTest, RequestLineUserAgentAndHost)
{
    CheckWith(200, "4.5.0.0");
    auto requests = server_->Requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].requestLine, "GET /pad/getpad.php?pad=/quorvane/quorvane.xml&field=version HTTP/1.1");
    EXPECT_EQ(requests[0].userAgent, "CheckUpdates/1.0");
    EXPECT_EQ(requests[0].host, "www.quorvane.example:" + std::to_string(server_->port()));
    EXPECT_EQ(requests[0].rawHeaders.find("Accept:"), std::string::npos) << requests[0].rawHeaders;
}

TEST_F(VersionCheckTest, NewerVersionOffersTheDownloadAndYesOpensIt)
{
    ui_.answerYes = true;
    const auto shown = CheckWith(200, "4.5.0.1");
    ASSERT_EQ(shown.size(), 2u);
    EXPECT_EQ(shown[0], (Shown{"yesno", Offer("4.5.0.1"), {}}));
    EXPECT_EQ(shown[1], (Shown{"open", "https://www.quorvane.example/downloads/quorvane.exe", {}}));
    for (const auto& s : shown)
        EXPECT_EQ(s.thread, std::this_thread::get_id()) << "shown off the user-interface thread";
}

TEST_F(VersionCheckTest, NoToTheOfferOpensNothing)
{
    EXPECT_EQ(CheckWith(200, "4.5.100.0"), (std::vector<Shown>{{"yesno", Offer("4.5.100.0"), {}}}));
}

TEST_F(VersionCheckTest, EqualAndOlderVersionsSayUpToDate)
{
    EXPECT_EQ(CheckWith(200, "4.5.0.0"), (std::vector<Shown>{{"ok", kUpToDate, {}}}));
    ui_.shown.clear();
    EXPECT_EQ(CheckWith(200, "4.4.9.9"), (std::vector<Shown>{{"ok", kUpToDate, {}}}));
    ui_.shown.clear();
    check_->NoUpdatesDlg = false;
    EXPECT_TRUE(CheckWith(200, "4.5.0.0").empty());
}

TEST_F(VersionCheckTest, ReplyIsTrimmedBeforeUse)
{
    std::string text;
    check_->OnGetURL = [&](qv::VersionCheck& sender, const std::string& version, const std::string& url) {
        EXPECT_EQ(&sender, check_.get());
        text = version + " " + url;
    };
    EXPECT_EQ(CheckWith(200, " \t\r\n4.5.0.1 \r\n"), (std::vector<Shown>{{"yesno", Offer("4.5.0.1"), {}}}));
    EXPECT_EQ(text, "4.5.0.1 https://www.quorvane.example/downloads/quorvane.exe");
    EXPECT_EQ(check_->Thread()->VersionText, "4.5.0.1");
}

TEST_F(VersionCheckTest, RepliesThatAreNotVersionsAreFailures)
{
    for (const char* body : {"5", "4.5.1", "4.5.x.0", "<html><body>Server error</body></html>", " \r\n \r\n"}) {
        ui_.shown.clear();
        EXPECT_EQ(CheckWith(200, body), (std::vector<Shown>{{"error", kFailure, {}}})) << body;
        EXPECT_TRUE(check_->Thread()->Failed);
    }
    ui_.shown.clear();
    std::string withNul("4.5.0.1\0x", 9);
    EXPECT_EQ(CheckWith(200, withNul), (std::vector<Shown>{{"error", kFailure, {}}}));
}

TEST_F(VersionCheckTest, FailuresPassSilentlyWithoutFailureDlg)
{
    check_->FailureDlg = false;
    EXPECT_TRUE(CheckWith(200, "").empty());
    EXPECT_TRUE(CheckWith(200, "5").empty());
    EXPECT_TRUE(CheckWith(404, "4.6.0.0").empty());
    EXPECT_TRUE(check_->Thread()->Failed);
}

TEST_F(VersionCheckTest, ErrorStatusIsAFailureWhateverTheBody)
{
    EXPECT_EQ(CheckWith(404, "4.6.0.0"), (std::vector<Shown>{{"error", kFailure, {}}}));
    ui_.shown.clear();
    EXPECT_EQ(CheckWith(500, "4.5.0.0"), (std::vector<Shown>{{"error", kFailure, {}}}));
}

TEST_F(VersionCheckTest, WholeBodyIsReadAcrossChunks)
{
    server_->Queue(TlsServer::Reply{200, {"4.", "5.0", ".1\r\n"}, false});
    check_->CheckVersion();
    check_->WaitForCheck();
    EXPECT_EQ(ui_.shown, (std::vector<Shown>{{"yesno", Offer("4.5.0.1"), {}}}));
}

TEST_F(VersionCheckTest, OverlongReplyIsAFailure)
{
    EXPECT_EQ(CheckWith(200, "4.5.0.1" + std::string(64 * 1024, ' ')), (std::vector<Shown>{{"error", kFailure, {}}}));
    ui_.shown.clear();
    // Just within the bound the version still counts.
    EXPECT_EQ(CheckWith(200, "4.5.0.1" + std::string(64 * 1024 - 7, ' ')),
              (std::vector<Shown>{{"yesno", Offer("4.5.0.1"), {}}}));
}

TEST_F(VersionCheckTest, NoServerIsAFailure)
{
    check_->Endpoint().port = qvtest::UnusedLoopbackPort();
    check_->CheckVersion();
    check_->WaitForCheck();
    EXPECT_EQ(ui_.shown, (std::vector<Shown>{{"error", kFailure, {}}}));
}

TEST_F(VersionCheckTest, UntrustedCertificateIsRefused)
{
    check_->Endpoint().caBundle = certificates_.stranger;
    EXPECT_EQ(CheckWith(200, "4.5.0.1"), (std::vector<Shown>{{"error", kFailure, {}}}));
    EXPECT_TRUE(server_->Requests().empty());
}

TEST_F(VersionCheckTest, WithoutVersionInformationChecksEndSilently)
{
    check_ = MakeCheck(nullptr);
    EXPECT_FALSE(check_->VersioInfoPresent());
    EXPECT_EQ(check_->FileVersion(), "");
    bool notified = false;
    check_->OnGetURL = [&](qv::VersionCheck&, const std::string&, const std::string&) { notified = true; };
    EXPECT_TRUE(CheckWith(200, "9.0.0.0").empty());
    EXPECT_FALSE(notified);
    EXPECT_EQ(server_->Requests().size(), 1u);
}

TEST_F(VersionCheckTest, OwnVersionComesFromTheRecord)
{
    EXPECT_TRUE(check_->VersioInfoPresent());
    EXPECT_EQ(check_->FileVersion(), "4.5.0.0");
    EXPECT_EQ(check_->ProductName(), "");
    EXPECT_EQ(check_->ProductDescription(), "Quorvane Compiler");

    qv::VersionRecord other;
    other.translations = {{0x0409, 1252}};
    other.stringTables["040904E4"]["FileVersion"] = "4.5.0.2";
    check_ = MakeCheck(&other);
    EXPECT_EQ(CheckWith(200, "4.5.0.1"),
              (std::vector<Shown>{{"ok", "You already have the latest version 4.5.0.2 of this program", {}}}));
}

TEST_F(VersionCheckTest, SecondCheckWaitsForTheFirstAndMessagesComeInOrder)
{
    server_->Queue(TlsServer::Reply{200, {"4.5.0.1"}, true});
    server_->Queue(200, "4.5.0.0");
    check_->CheckVersion();
    ASSERT_TRUE(server_->WaitForRequests(1));
    // The first reply is let go only from the user-interface thread's queue,
    // which is served only while the second CheckVersion waits: so the
    // second call is proven to wait, serving, while the first download runs.
    std::thread releaser([&] { dispatcher_.Synchronize([&] { server_->Release(); }); });
    check_->CheckVersion();
    check_->WaitForCheck();
    releaser.join();
    EXPECT_EQ(ui_.shown, (std::vector<Shown>{{"yesno", Offer("4.5.0.1"), {}}, {"ok", kUpToDate, {}}}));
    EXPECT_EQ(server_->Events(), (std::vector<std::string>{"request 1", "reply 1", "request 2", "reply 2"}));
}

TEST_F(VersionCheckTest, CheckAskedForWhileAnAnswerIsShownIsIgnored)
{
    // A message box runs its own event loop, so the user can ask again while
    // the answer is on screen; the worker waits for that box, so a wait for
    // it there would never end.
    int calls = 0;
    ui_.whileShown = [&] {
        if (++calls == 1)
            check_->CheckVersion();
    };
    EXPECT_EQ(CheckWith(200, "4.5.0.0"), (std::vector<Shown>{{"ok", kUpToDate, {}}}));
    EXPECT_EQ(server_->Requests().size(), 1u);
    // Afterwards checks run again.
    ui_.shown.clear();
    EXPECT_EQ(CheckWith(200, "4.5.0.0"), (std::vector<Shown>{{"ok", kUpToDate, {}}}));
}

TEST_F(VersionCheckTest, DestructionWaitsForTheWorkerAndShowsNothing)
{
    server_->Queue(TlsServer::Reply{200, {"4.5.0.1"}, true});
    check_->CheckVersion();
    ASSERT_TRUE(server_->WaitForRequests(1));
    std::thread releaser([&] { dispatcher_.Synchronize([&] { server_->Release(); }); });
    check_.reset();
    releaser.join();
    EXPECT_TRUE(ui_.shown.empty());
    EXPECT_EQ(server_->Events(), (std::vector<std::string>{"request 1", "reply 1"}));
}

TEST_F(VersionCheckTest, HostOfTheFeedAddressIsNotUsed)
{
    check_->URLCurrVerFile = "https://elsewhere.example/other/feed.xml?x=1";
    CheckWith(200, "4.5.0.0");
    auto requests = server_->Requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].requestLine, "GET /pad/getpad.php?pad=/other/feed.xml&field=version HTTP/1.1");
    EXPECT_EQ(ui_.shown, (std::vector<Shown>{{"ok", kUpToDate, {}}}));
}

TEST(ProcessVersion, JudgesWithoutNetwork)
{
    qv::QueueDispatcher dispatcher;
    RecordingUi ui;
    qv::VersionCheck check(dispatcher, ui);
    EXPECT_FALSE(check.FailureDlg);
    EXPECT_TRUE(check.DownloadDlg);
    EXPECT_TRUE(check.NoUpdatesDlg);
    EXPECT_EQ(check.DownloadURL, "");
    EXPECT_EQ(check.SiteName, "Quorvane Software");
    EXPECT_EQ(qv::http::ExtractUrlPath(check.URLCurrVerFile), "/quorvane/quorvane.xml");
    EXPECT_EQ(check.Endpoint().host, "www.quorvane.example");
    EXPECT_EQ(check.Endpoint().port, 443);
    EXPECT_FALSE(check.OnGetURL);
    check.SiteName = "Quorvane Software";
    check.DownloadURL = "https://d.example/q.exe";
    check.DownloadDlg = false;
    check.ProcessVersion("4.5.0.1");
    EXPECT_TRUE(ui.shown.empty());
    check.DownloadDlg = true;
    ui.answerYes = true;
    check.ProcessVersion("4.6.0.0");
    EXPECT_EQ(ui.shown,
              (std::vector<Shown>{{"yesno",
                                   "There is a new version 4.6.0.0 of this program\r\navailable at Quorvane Software\r\n"
                                   "Do you want to download it now?",
                                   {}},
                                  {"open", "https://d.example/q.exe", {}}}));
    ui.shown.clear();
    check.ProcessVersion("5");
    EXPECT_TRUE(ui.shown.empty());
    check.FailureDlg = true;
    check.ProcessVersion("5");
    EXPECT_EQ(ui.shown, (std::vector<Shown>{{"error",
                                             "Could not download file version information from: \r\n" +
                                                 check.URLCurrVerFile,
                                             {}}}));
    EXPECT_EQ(check.Thread(), nullptr);
}

} // namespace
