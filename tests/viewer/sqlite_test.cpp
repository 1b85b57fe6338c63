// SQLite as viewer.exe is built with it (the same mingw-w64 compiler,
// options and amalgamation), run by the Windows loader: FTS5 must find words
// without their accents and by their stem, read an index that Debian's own
// sqlite3 wrote, and be the very SQLite the Linux programs use.
#include "ExeTools.h"
#include "TestSupport.h"
#include "Wine.h"

#include <gtest/gtest.h>

#include <filesystem>

using namespace qvtest;
namespace fs = std::filesystem;

namespace {

const std::string kCheck = QV_SQLITE_CHECK_EXE;
const char* const kNoSqliteCli = "Debian's sqlite3 program is not installed";

class SqliteUnderWine : public testing::Test {
protected:
    void SetUp() override
    {
        QV_SKIP_UNLESS_WINE_RUNS(kCheck);
    }

    // Each query's matching rowids, one line per query.
    WineRun Query(const std::string& database, const std::vector<std::string>& queries)
    {
        std::string lines;
        for (const std::string& query : queries)
            lines += query + "\n";
        WriteFile(dir_ / "queries.txt", lines);
        return TestWine().Run(kCheck, {database, Wine::WinPath(dir_ / "queries.txt")});
    }

    TempDir dir_;
};

TEST_F(SqliteUnderWine, FindsWordsWithoutTheirAccentsAndByTheirStem)
{
    const WineRun r = Query(":memory:", {"cafe", "caf\xC3\xA9", "CAFE", "run", "runs", "walked", "coffee",
                                         "caf* AND home", "caf* OR home"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "cafe: 1\n"
                     "caf\xC3\xA9: 1\n"
                     "CAFE: 1\n"
                     "run: 1\n"
                     "runs: 1\n"
                     "walked: 2\n"
                     "coffee:\n"
                     "caf* AND home:\n"
                     "caf* OR home: 1 2\n");
}

TEST_F(SqliteUnderWine, ReadsAContentlessIndexDebiansSqliteWrote)
{
    if (!HaveTool("sqlite3"))
        GTEST_SKIP() << kNoSqliteCli;
    const fs::path db = dir_ / "index.db";
    int status = -1;
    const std::string made = Capture("sqlite3 " + Quoted(db) +
                                         " \"CREATE VIRTUAL TABLE pages USING fts5(title, body, content='',"
                                         " tokenize='porter unicode61 remove_diacritics 2');"
                                         " INSERT INTO pages(rowid, title, body) VALUES"
                                         " (3, 'Cr\xC3\xA8me br\xC3\xBBl\xC3\xA9""e', 'Burnt cream, baked slowly'),"
                                         " (7, 'Na\xC3\xAFve art', 'Painters who never studied'),"
                                         " (9, 'Bakery', 'Bread baked before dawn');\" 2>&1",
                                     &status);
    ASSERT_EQ(status, 0) << made;

    const WineRun r = Query(Wine::WinPath(db), {"creme", "bake", "title:bakery", "naive OR studies", "dawn NOT bread"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "creme: 3\n"
                     "bake: 3 9\n"
                     "title:bakery: 9\n"
                     "naive OR studies: 7\n"
                     "dawn NOT bread:\n");
}

TEST_F(SqliteUnderWine, IsTheSqliteOfDebiansLibsqlite3)
{
    if (!HaveTool("sqlite3"))
        GTEST_SKIP() << kNoSqliteCli;
    const WineRun r = TestWine().Run(kCheck, {"--version"});
    ASSERT_EQ(r.status, 0) << r.err;
    ASSERT_FALSE(r.out.empty());
    // "3.40.1 2022-12-28 14:03:47 df5c…": version and source id, which
    // names the source and Debian's patches to it.
    const std::string debian = Capture("sqlite3 --version");
    EXPECT_EQ(debian.substr(0, r.out.size() - 1), r.out.substr(0, r.out.size() - 1)) << debian;
}

} // namespace
