#include "quorvane/project/CommandLine.h"

#include <gtest/gtest.h>

using qv::CommandLineRequest;
using Kind = CommandLineRequest::Kind;

TEST(CommandLine, ExtensionIsTakenAfterTheLastSeparator)
{
    EXPECT_EQ(qv::ExtensionOf("site.qp"), ".qp");
    EXPECT_EQ(qv::ExtensionOf("/a.b/site"), "");
    EXPECT_EQ(qv::ExtensionOf("C:\\a.qp\\site"), "");
    EXPECT_EQ(qv::ExtensionOf("/a/site.tar.qp"), ".qp");
    EXPECT_EQ(qv::ExtensionOf("/a/.qp"), ".qp");
    EXPECT_EQ(qv::ExtensionOf("site."), ".");
    EXPECT_EQ(qv::ExtensionOf(""), "");
}

TEST(CommandLine, ProjectArgumentOpensIt)
{
    const CommandLineRequest r = qv::ParseCommandLine({"rel/site.qp", "other.qp", "more"});
    EXPECT_EQ(r.kind, Kind::OpenProject);
    EXPECT_EQ(r.project, "rel/site.qp");
    // The extension is compared exactly.
    EXPECT_EQ(qv::ParseCommandLine({"site.QP"}).kind, Kind::None);
    EXPECT_EQ(qv::ParseCommandLine({"site.Qp"}).kind, Kind::None);
    EXPECT_EQ(qv::ParseCommandLine({}).kind, Kind::None);
    EXPECT_EQ(qv::ParseCommandLine({"site.qpx"}).kind, Kind::None);
}

TEST(CommandLine, CompileSwitchInAnyLetterCase)
{
    for (const char* sw : {"/COMPILE", "/compile", "/Compile", "/cOmPiLe"}) {
        const CommandLineRequest r = qv::ParseCommandLine({sw, "my site.qp", "ignored"});
        EXPECT_EQ(r.kind, Kind::CompileProject) << sw;
        EXPECT_EQ(r.project, "my site.qp");
    }
    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
             {"-COMPILE", "site.qp"}, {"/COMPILE"}, {"/COMPILE", "site.QP"}, {"/COMPILER", "site.qp"},
             {"COMPILE", "site.qp"}, {"/COMPİLE", "site.qp"}})
        EXPECT_EQ(qv::ParseCommandLine(args).kind, Kind::None) << args[0];
}
