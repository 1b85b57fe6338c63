#include "quorvane/compile/SearchIndexWriter.h"

#include "quorvane/base/Error.h"
#include "quorvane/viewercore/SearchSchema.h"

#include <sqlite3.h>

#include <new>
#include <string>

namespace qv {

struct SearchIndexWriter::Statements {
    sqlite3_stmt* page = nullptr;
    sqlite3_stmt* text = nullptr;
    ~Statements()
    {
        sqlite3_finalize(page);
        sqlite3_finalize(text);
    }
};

SearchIndexWriter::SearchIndexWriter(const std::string& path) : statements_(std::make_unique<Statements>())
{
    if (sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_EXCLUSIVE,
                        nullptr) != SQLITE_OK) {
        if (!db_)
            throw std::bad_alloc();
        Fail();
    }
    // Fixed, so the file does not follow the library's defaults; a build
    // that fails throws the file away, so no journal is needed.
    Execute("PRAGMA page_size=4096; PRAGMA journal_mode=OFF; PRAGMA synchronous=OFF; PRAGMA encoding='UTF-8';"
            "PRAGMA locking_mode=EXCLUSIVE");
    const std::string schema =
        "CREATE TABLE page(id INTEGER PRIMARY KEY, address TEXT NOT NULL, title TEXT NOT NULL);"
        "CREATE VIRTUAL TABLE pagetext USING fts5(title, headings, body, content='', tokenize='" +
        std::string(search_schema::kTokenizer) + "');" + "PRAGMA user_version=" +
        std::to_string(search_schema::kVersion) + ";" +
        // Segments are merged once, at the end, instead of level by level
        // while pages come in.
        "INSERT INTO pagetext(pagetext, rank) VALUES('automerge', 0);"
        "INSERT INTO pagetext(pagetext, rank) VALUES('crisismerge', 2000);"
        "BEGIN";
    Execute(schema.c_str());
    if (sqlite3_prepare_v2(db_, "INSERT INTO page(id, address, title) VALUES(?1, ?2, ?3)", -1, &statements_->page,
                           nullptr) != SQLITE_OK ||
        sqlite3_prepare_v2(db_, "INSERT INTO pagetext(rowid, title, headings, body) VALUES(?1, ?2, ?3, ?4)", -1,
                           &statements_->text, nullptr) != SQLITE_OK)
        Fail();
}

SearchIndexWriter::~SearchIndexWriter()
{
    statements_.reset();
    sqlite3_close(db_);
}

void SearchIndexWriter::Fail()
{
    if (sqlite3_errcode(db_) == SQLITE_NOMEM)
        throw std::bad_alloc();
    throw Error(std::string("Could not build the search index: ") + sqlite3_errmsg(db_));
}

void SearchIndexWriter::Execute(const char* sql)
{
    if (sqlite3_exec(db_, sql, nullptr, nullptr, nullptr) != SQLITE_OK)
        Fail();
}

void SearchIndexWriter::Add(const std::string& sitePath, const PageText& text)
{
    const auto id = static_cast<sqlite3_int64>(++pages_);
    auto bind = [](sqlite3_stmt* s, int at, const std::string& value) {
        return sqlite3_bind_text64(s, at, value.data(), value.size(), SQLITE_STATIC, SQLITE_UTF8);
    };
    sqlite3_stmt* page = statements_->page;
    sqlite3_stmt* words = statements_->text;
    const bool done = sqlite3_bind_int64(page, 1, id) == SQLITE_OK && bind(page, 2, sitePath) == SQLITE_OK &&
                      bind(page, 3, text.title) == SQLITE_OK && sqlite3_step(page) == SQLITE_DONE &&
                      sqlite3_bind_int64(words, 1, id) == SQLITE_OK && bind(words, 2, text.title) == SQLITE_OK &&
                      bind(words, 3, text.headings) == SQLITE_OK && bind(words, 4, text.body) == SQLITE_OK &&
                      sqlite3_step(words) == SQLITE_DONE;
    sqlite3_reset(page);
    sqlite3_reset(words);
    if (!done)
        Fail();
}

bool SearchIndexWriter::Finish(const std::function<bool()>& stopped)
{
    statements_.reset();
    sqlite3_progress_handler(
        db_, 10000, [](void* stop) {
            const auto& asked = *static_cast<const std::function<bool()>*>(stop);
            return asked && asked() ? 1 : 0;
        },
        const_cast<std::function<bool()>*>(&stopped));
    // One segment reads fastest and VACUUM drops the pages the merge freed.
    const bool done = sqlite3_exec(db_, "INSERT INTO pagetext(pagetext) VALUES('optimize'); COMMIT; VACUUM",
                                   nullptr, nullptr, nullptr) == SQLITE_OK;
    sqlite3_progress_handler(db_, 0, nullptr, nullptr);
    if (stopped && stopped())
        return false;
    if (!done)
        Fail();
    if (sqlite3_close(db_) != SQLITE_OK)
        Fail();
    db_ = nullptr;
    return true;
}

} // namespace qv
