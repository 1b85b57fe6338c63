#include "TestSupport.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <regex>
#include <set>

namespace {

const char* const kTopics[] = {"index.html", "wizard.html", "options.html", "formats.html", "commandline.html"};

std::string Capture(const std::string& command)
{
    std::unique_ptr<FILE, decltype(&pclose)> pipe(popen((command + " 2>/dev/null").c_str(), "r"), pclose);
    if (!pipe)
        return {};
    std::string out;
    std::array<char, 4096> buffer;
    size_t n;
    while ((n = fread(buffer.data(), 1, buffer.size(), pipe.get())) > 0)
        out.append(buffer.data(), n);
    return out;
}

class HelpFile : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!QV_HELP_BUILT)
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
    const std::string listing = Capture(std::string(QV_CHMLS) + " list -n \"" + QV_HELP_FILE + "\"");
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
    Capture(std::string(QV_CHMLS) + " extractall \"" + QV_HELP_FILE + "\" \"" + out.path().string() + "\"");
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

} // namespace
