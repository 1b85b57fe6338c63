#include "ExeTools.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <regex>

namespace {

using qvtest::Capture;
using qvtest::Quoted;

const char* const kTopics[] = {"index.html",       "wizard.html",  "options.html",
                               "formats.html",     "checking.html", "commandline.html", "searching.html"};

class HelpFile : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!QV_CHM_BUILT)
            GTEST_SKIP() << "chmcmd was missing, so no help file was built";
    }
    static bool HaveChmls() { return std::string(QV_CHMLS).size() > 0; }
};

TEST_F(HelpFile, HasTheCompiledHelpSignature)
{
    const auto bytes = qvtest::ReadFile(QV_HELP_FILE);
    ASSERT_GT(bytes.size(), 4096u);
    EXPECT_EQ(std::string(bytes.begin(), bytes.begin() + 4), "ITSF");
    // Format version 3, and the header's own length field.
    EXPECT_EQ(bytes[4], 3);
    EXPECT_EQ(bytes[8], 0x60);
}

TEST_F(HelpFile, ListsEveryTopicContentsAndIndex)
{
    if (!HaveChmls())
        GTEST_SKIP() << "chmls is missing";
    const std::string listing = Capture(std::string(QV_CHMLS) + " list -n " + Quoted(QV_HELP_FILE) + " 2>/dev/null");
    for (const char* topic : kTopics)
        EXPECT_NE(listing.find(std::string("/html/") + topic), std::string::npos) << topic << "\n" << listing;
    EXPECT_NE(listing.find("/toc.hhc"), std::string::npos);
    EXPECT_NE(listing.find("/index.hhk"), std::string::npos);
}

TEST_F(HelpFile, PagesComeBackUnchangedAndTheirLinksResolve)
{
    if (!HaveChmls())
        GTEST_SKIP() << "chmls is missing";
    qvtest::TempDir out;
    Capture(std::string(QV_CHMLS) + " extractall " + Quoted(QV_HELP_FILE) + " " + Quoted(out.path()) + " 2>/dev/null");
    const std::filesystem::path sources = QV_HELP_SOURCES;
    const std::regex link(R"re(href="([^"#:]+)")re");
    for (const char* topic : kTopics) {
        const auto extracted = out.path() / "html" / topic;
        ASSERT_TRUE(std::filesystem::exists(extracted)) << topic;
        const auto bytes = qvtest::ReadFile(extracted);
        EXPECT_EQ(bytes, qvtest::ReadFile(sources / "html" / topic)) << topic;
        const std::string page(bytes.begin(), bytes.end());
        EXPECT_NE(page.find("<title>"), std::string::npos) << topic;
        for (auto it = std::sregex_iterator(page.begin(), page.end(), link); it != std::sregex_iterator(); ++it)
            EXPECT_TRUE(std::filesystem::exists(out.path() / "html" / (*it)[1].str()))
                << topic << " links to missing " << (*it)[1];
    }
    // The contents name every topic.
    const auto toc = qvtest::ReadFile(out.path() / "toc.hhc");
    const std::string contents(toc.begin(), toc.end());
    for (const char* topic : kTopics)
        EXPECT_NE(contents.find(std::string("html/") + topic), std::string::npos) << topic;
}

// The guide as quorvane-view shows it: a QPF whose every entry checks out,
// holding each page under its own name, byte for byte.
TEST(HelpOutput, IsAQpfOfEveryPage)
{
    const std::string quorvanec = QV_QUORVANEC;
    int status = -1;
    const std::string verified = Capture(quorvanec + " verify " + Quoted(QV_HELP_QPF) + " 2>&1", &status);
    EXPECT_EQ(status, 0) << verified;

    const std::string listing = Capture(quorvanec + " list " + Quoted(QV_HELP_QPF), &status);
    ASSERT_EQ(status, 0);
    for (const char* page : {"index.html", "wizard.html", "options.html", "formats.html", "checking.html",
                             "commandline.html", "searching.html", "style.css", "-search-", "-config-"})
        EXPECT_TRUE(std::regex_search(listing, std::regex(std::string(" ") + page + "\n"))) << page << "\n" << listing;
    // Nothing from outside the pages' folder.
    EXPECT_EQ(listing.find(".hh"), std::string::npos) << listing;

    qvtest::TempDir out;
    Capture(quorvanec + " extract " + Quoted(QV_HELP_QPF) + " " + Quoted(out.path()), &status);
    ASSERT_EQ(status, 0);
    const std::filesystem::path sources = QV_HELP_SOURCES;
    for (const char* topic : kTopics)
        EXPECT_EQ(qvtest::ReadFile(out / topic), qvtest::ReadFile(sources / "html" / topic)) << topic;
    EXPECT_NE(Capture(quorvanec + " config " + Quoted(QV_HELP_QPF)).find("index.html"), std::string::npos);
}

} // namespace
