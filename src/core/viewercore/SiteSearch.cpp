#include "quorvane/viewercore/SiteSearch.h"

#include "quorvane/archive/ArchiveReader.h"
#include "quorvane/viewercore/PageText.h"
#include "quorvane/viewercore/SearchSchema.h"
#include "quorvane/viewercore/SiteArchive.h"

#include <sqlite3.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <map>
#include <new>

namespace qv {
namespace {

constexpr const char* kVfsName = "qv-archive";
// Words a snippet shows around its best stretch of matches.
constexpr size_t kSnippetWords = 24;
// Pages larger than this get no snippet: cutting one means reading it whole.
constexpr int64_t kMaxSnippetPage = SiteArchive::kCheckedInMemory;

// ---- A read-only SQLite file layer over one stored entry of an output.

// The bytes SQLite sees as its database file: the entry's range of the
// output, read through a stream of its own.
struct EntryBytes {
    std::unique_ptr<Stream> stream;
    int64_t start = 0; // the entry's first byte in the output
    int64_t size = 0;
};

// Databases are opened by name; the layer finds their bytes here, under
// SQLite's own lock (viewer.exe's C++ runtime has no std::mutex).
class RegistryLock {
public:
    RegistryLock() : mutex_(sqlite3_mutex_alloc(SQLITE_MUTEX_STATIC_APP1)) { sqlite3_mutex_enter(mutex_); }
    ~RegistryLock() { sqlite3_mutex_leave(mutex_); }
    RegistryLock(const RegistryLock&) = delete;
    RegistryLock& operator=(const RegistryLock&) = delete;

private:
    sqlite3_mutex* mutex_;
};

std::map<std::string, EntryBytes*>& Registry()
{
    static std::map<std::string, EntryBytes*> registry;
    return registry;
}

struct EntryFile {
    sqlite3_file base;
    EntryBytes* bytes;
};

EntryBytes& BytesOf(sqlite3_file* file)
{
    return *reinterpret_cast<EntryFile*>(file)->bytes;
}

int FileClose(sqlite3_file*)
{
    return SQLITE_OK;
}

int FileRead(sqlite3_file* file, void* buffer, int amount, sqlite3_int64 offset)
{
    EntryBytes& bytes = BytesOf(file);
    auto* out = static_cast<uint8_t*>(buffer);
    const auto wanted = static_cast<int64_t>(amount);
    const int64_t available = offset < 0 || offset >= bytes.size ? 0 : std::min<int64_t>(wanted, bytes.size - offset);
    try {
        int64_t got = 0;
        if (available > 0) {
            bytes.stream->Seek(bytes.start + offset);
            while (got < available) {
                const size_t n = bytes.stream->Read(out + got, static_cast<size_t>(available - got));
                if (n == 0)
                    break;
                got += static_cast<int64_t>(n);
            }
        }
        if (got < wanted) {
            std::memset(out + got, 0, static_cast<size_t>(wanted - got));
            return got < available ? SQLITE_IOERR_READ : SQLITE_IOERR_SHORT_READ;
        }
    } catch (...) {
        return SQLITE_IOERR_READ;
    }
    return SQLITE_OK;
}

int FileWrite(sqlite3_file*, const void*, int, sqlite3_int64)
{
    return SQLITE_READONLY;
}

int FileTruncate(sqlite3_file*, sqlite3_int64)
{
    return SQLITE_READONLY;
}

int FileSync(sqlite3_file*, int)
{
    return SQLITE_OK;
}

int FileSize(sqlite3_file* file, sqlite3_int64* size)
{
    *size = BytesOf(file).size;
    return SQLITE_OK;
}

int FileLock(sqlite3_file*, int)
{
    return SQLITE_OK;
}

int FileCheckReservedLock(sqlite3_file*, int* out)
{
    *out = 0;
    return SQLITE_OK;
}

int FileControl(sqlite3_file*, int, void*)
{
    return SQLITE_NOTFOUND;
}

int FileSectorSize(sqlite3_file*)
{
    return 4096;
}

int FileCharacteristics(sqlite3_file*)
{
    return SQLITE_IOCAP_IMMUTABLE;
}

const sqlite3_io_methods kFileMethods = {
    1, FileClose, FileRead, FileWrite, FileTruncate, FileSync, FileSize, FileLock, FileLock,
    FileCheckReservedLock, FileControl, FileSectorSize, FileCharacteristics,
    nullptr, nullptr, nullptr, nullptr, nullptr, nullptr};

sqlite3_vfs* Fallback(sqlite3_vfs* vfs)
{
    return static_cast<sqlite3_vfs*>(vfs->pAppData);
}

int VfsOpen(sqlite3_vfs*, const char* name, sqlite3_file* file, int flags, int* outFlags)
{
    file->pMethods = nullptr;
    if (!name || !(flags & SQLITE_OPEN_MAIN_DB) || (flags & (SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE)))
        return SQLITE_CANTOPEN;
    RegistryLock lock;
    const auto it = Registry().find(name);
    if (it == Registry().end())
        return SQLITE_CANTOPEN;
    reinterpret_cast<EntryFile*>(file)->bytes = it->second;
    file->pMethods = &kFileMethods;
    if (outFlags)
        *outFlags = SQLITE_OPEN_READONLY;
    return SQLITE_OK;
}

int VfsDelete(sqlite3_vfs*, const char*, int)
{
    return SQLITE_IOERR_DELETE;
}

int VfsAccess(sqlite3_vfs*, const char*, int, int* out)
{
    // No journal, no WAL: nothing beside the database exists.
    *out = 0;
    return SQLITE_OK;
}

int VfsFullPathname(sqlite3_vfs*, const char* name, int size, char* out)
{
    if (static_cast<int>(std::strlen(name)) >= size)
        return SQLITE_CANTOPEN;
    std::strcpy(out, name);
    return SQLITE_OK;
}

void* VfsDlOpen(sqlite3_vfs*, const char*)
{
    return nullptr;
}

void VfsDlError(sqlite3_vfs*, int size, char* out)
{
    if (size > 0)
        out[0] = 0;
}

void (*VfsDlSym(sqlite3_vfs*, void*, const char*))(void)
{
    return nullptr;
}

void VfsDlClose(sqlite3_vfs*, void*) {}

int VfsRandomness(sqlite3_vfs* vfs, int size, char* out)
{
    return Fallback(vfs)->xRandomness(Fallback(vfs), size, out);
}

int VfsSleep(sqlite3_vfs* vfs, int microseconds)
{
    return Fallback(vfs)->xSleep(Fallback(vfs), microseconds);
}

int VfsCurrentTime(sqlite3_vfs* vfs, double* now)
{
    return Fallback(vfs)->xCurrentTime(Fallback(vfs), now);
}

int VfsGetLastError(sqlite3_vfs*, int, char*)
{
    return 0;
}

void RegisterVfs()
{
    // Once per process; a throw leaves it to the next caller to try again.
    static const bool registered = [] {
        static sqlite3_vfs vfs{};
        vfs.iVersion = 1;
        vfs.szOsFile = sizeof(EntryFile);
        vfs.mxPathname = 64;
        vfs.zName = kVfsName;
        vfs.pAppData = sqlite3_vfs_find(nullptr);
        vfs.xOpen = VfsOpen;
        vfs.xDelete = VfsDelete;
        vfs.xAccess = VfsAccess;
        vfs.xFullPathname = VfsFullPathname;
        vfs.xDlOpen = VfsDlOpen;
        vfs.xDlError = VfsDlError;
        vfs.xDlSym = VfsDlSym;
        vfs.xDlClose = VfsDlClose;
        vfs.xRandomness = VfsRandomness;
        vfs.xSleep = VfsSleep;
        vfs.xCurrentTime = VfsCurrentTime;
        vfs.xGetLastError = VfsGetLastError;
        if (!vfs.pAppData || sqlite3_vfs_register(&vfs, 0) != SQLITE_OK)
            throw Error("The search index cannot be read: SQLite has no file layer to build on");
        return true;
    }();
    (void)registered;
}

// ---- Words as the index cut them.

struct Token {
    std::string text; // folded and stemmed
    size_t start = 0, end = 0; // bytes of the source text
};

// The index's own tokenizer, taken from the connection, so marked words
// are exactly those FTS5 matched.
class Tokenizer {
public:
    explicit Tokenizer(sqlite3* db)
    {
        fts5_api* api = nullptr;
        sqlite3_stmt* statement = nullptr;
        if (sqlite3_prepare_v2(db, "SELECT fts5(?1)", -1, &statement, nullptr) == SQLITE_OK) {
            sqlite3_bind_pointer(statement, 1, static_cast<void*>(&api), "fts5_api_ptr", nullptr);
            sqlite3_step(statement);
        }
        sqlite3_finalize(statement);
        void* context = nullptr;
        const char* arguments[] = {"unicode61", "remove_diacritics", "2"};
        if (!api || api->xFindTokenizer(api, "porter", &context, &methods_) != SQLITE_OK ||
            methods_.xCreate(context, arguments, 3, &tokenizer_) != SQLITE_OK)
            throw Error("The search index cannot be read: SQLite lacks the porter tokenizer of FTS5");
    }
    ~Tokenizer()
    {
        if (tokenizer_)
            methods_.xDelete(tokenizer_);
    }
    Tokenizer(const Tokenizer&) = delete;
    Tokenizer& operator=(const Tokenizer&) = delete;

    std::vector<Token> Cut(std::string_view text, int flags) const
    {
        std::vector<Token> tokens;
        // FTS5 takes int lengths; longer texts are cut short (kMaxText is far below).
        const int size = static_cast<int>(std::min<size_t>(text.size(), 1u << 30));
        methods_.xTokenize(tokenizer_, &tokens, flags, text.data(), size,
                           [](void* into, int tflags, const char* token, int length, int start, int end) {
                               if (tflags & FTS5_TOKEN_COLOCATED)
                                   return SQLITE_OK;
                               static_cast<std::vector<Token>*>(into)->push_back(
                                   Token{std::string(token, static_cast<size_t>(length)), static_cast<size_t>(start),
                                         static_cast<size_t>(end)});
                               return SQLITE_OK;
                           });
        return tokens;
    }

private:
    fts5_tokenizer methods_{};
    Fts5Tokenizer* tokenizer_ = nullptr;
};

// Which tokens of a page the wanted terms name: single words anywhere, a
// phrase's words only where they stand together.
struct Wanted {
    struct Word {
        std::string token;
        bool prefix = false;

        bool Takes(const std::string& t) const { return prefix ? t.compare(0, token.size(), token) == 0 : t == token; }
    };
    std::vector<Word> words;
    std::vector<std::vector<Word>> phrases;

    std::vector<bool> Marks(const std::vector<Token>& tokens) const
    {
        std::vector<bool> marked(tokens.size());
        for (size_t i = 0; i < tokens.size(); ++i)
            for (const Word& word : words)
                if (word.Takes(tokens[i].text))
                    marked[i] = true;
        for (const std::vector<Word>& phrase : phrases)
            for (size_t i = 0; i + phrase.size() <= tokens.size(); ++i) {
                size_t n = 0;
                while (n < phrase.size() && phrase[n].Takes(tokens[i + n].text))
                    ++n;
                if (n == phrase.size())
                    std::fill(marked.begin() + static_cast<std::ptrdiff_t>(i),
                              marked.begin() + static_cast<std::ptrdiff_t>(i + n), true);
            }
        return marked;
    }
};

std::vector<SnippetPart> CutSnippet(const std::string& text, const std::vector<Token>& tokens,
                                    const std::vector<bool>& matched)
{
    if (tokens.empty())
        return {};
    // The stretch of kSnippetWords words holding the most matches, the first
    // of equals.
    const size_t window = std::min(kSnippetWords, tokens.size());
    size_t inside = 0;
    for (size_t i = 0; i < window; ++i)
        inside += matched[i];
    size_t best = 0, bestCount = inside;
    for (size_t first = 1; first + window <= tokens.size(); ++first) {
        inside += matched[first + window - 1];
        inside -= matched[first - 1];
        if (inside > bestCount) {
            best = first;
            bestCount = inside;
        }
    }
    const size_t last = best + window - 1;
    std::vector<SnippetPart> parts;
    auto plain = [&](size_t from, size_t to) {
        if (to <= from)
            return;
        if (!parts.empty() && !parts.back().matched)
            parts.back().text.append(text, from, to - from);
        else
            parts.push_back(SnippetPart{text.substr(from, to - from), false});
    };
    if (best > 0)
        parts.push_back(SnippetPart{"…", false});
    size_t at = tokens[best].start;
    for (size_t i = best; i <= last; ++i) {
        if (!matched[i])
            continue;
        plain(at, tokens[i].start);
        parts.push_back(SnippetPart{text.substr(tokens[i].start, tokens[i].end - tokens[i].start), true});
        at = tokens[i].end;
    }
    plain(at, tokens[last].end);
    if (last + 1 < tokens.size())
        parts.push_back(SnippetPart{"…", false});
    return parts;
}

} // namespace

// ---- Queries.

std::vector<SearchTerm> ParseSearchQuery(std::string_view query)
{
    std::vector<SearchTerm> terms;
    auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v'; };
    size_t at = 0;
    while (at < query.size()) {
        if (blank(query[at])) {
            ++at;
            continue;
        }
        SearchTerm term;
        if (query[at] == '-' && at + 1 < query.size() && !blank(query[at + 1])) {
            term.excluded = true;
            ++at;
        }
        if (query[at] == '"') {
            term.phrase = true;
            const size_t close = query.find('"', at + 1);
            const size_t end = close == std::string_view::npos ? query.size() : close;
            term.text = std::string(query.substr(at + 1, end - at - 1));
            at = close == std::string_view::npos ? query.size() : close + 1;
        } else {
            size_t end = at;
            while (end < query.size() && !blank(query[end]) && query[end] != '"')
                ++end;
            term.text = std::string(query.substr(at, end - at));
            at = end;
        }
        while (at < query.size() && query[at] == '*') {
            term.prefix = true;
            ++at;
        }
        while (!term.text.empty() && term.text.back() == '*') {
            term.prefix = true;
            term.text.pop_back();
        }
        if (term.text.find_first_not_of(" \t\r\n\f\v-*") != std::string::npos)
            terms.push_back(std::move(term));
    }
    return terms;
}

std::string MatchExpression(const std::vector<SearchTerm>& terms)
{
    auto quoted = [](const SearchTerm& t) {
        std::string q = "\"";
        for (const char c : t.text)
            q += c == '"' ? std::string("\"\"") : std::string(1, c);
        return q + (t.prefix ? "\"*" : "\"");
    };
    std::string wanted, excluded;
    for (const SearchTerm& t : terms) {
        if (t.excluded)
            excluded += " NOT " + quoted(t);
        else
            wanted += (wanted.empty() ? "" : " AND ") + quoted(t);
    }
    if (wanted.empty()) {
        if (terms.empty())
            throw SearchQueryError("Type the words to search for");
        throw SearchQueryError("Type at least one word to search for that is not excluded with \"-\"");
    }
    return excluded.empty() ? wanted : "(" + wanted + ")" + excluded;
}

std::string MarkedText(const std::vector<SnippetPart>& parts, std::string_view open, std::string_view close)
{
    std::string text;
    for (const SnippetPart& part : parts) {
        if (part.matched)
            text.append(open);
        text += part.text;
        if (part.matched)
            text.append(close);
    }
    return text;
}

// ---- The index of one output.

struct SiteSearch::Index {
    const SiteArchive& site;
    EntryBytes bytes;
    std::string name;
    sqlite3* db = nullptr;
    sqlite3_stmt* find = nullptr;
    sqlite3_stmt* count = nullptr;
    std::unique_ptr<Tokenizer> tokenizer;
    size_t pages = 0;

    explicit Index(const SiteArchive& s) : site(s) {}
    ~Index()
    {
        tokenizer.reset();
        sqlite3_finalize(find);
        sqlite3_finalize(count);
        sqlite3_close(db);
        RegistryLock lock;
        Registry().erase(name);
    }

    [[noreturn]] void Damaged(const std::string& why) const
    {
        throw Error(site.DisplayName() + ": the search index is damaged (" + why + ")");
    }
    [[noreturn]] void Failed() const
    {
        if (sqlite3_errcode(db) == SQLITE_NOMEM)
            throw std::bad_alloc();
        Damaged(sqlite3_errmsg(db));
    }

    void Open()
    {
        const ArchiveReader& reader = site.Reader();
        const int64_t at = site.IndexOf(search_schema::kEntryName);
        if (at < 0)
            throw NoSearchIndex(site.DisplayName() +
                                " has no search index; build it with the project's \"Search index\" setting on");
        const ArchiveEntry& entry = reader.Entry(static_cast<size_t>(at));
        if (entry.Kind() != EntryStorage::Stored)
            Damaged("it is not stored unchanged, so it cannot be read in place");
        bytes.stream = site.OpenOwnStream();
        // One pass over the entry checks its CRC; SQLite then reads only the
        // pages a query needs.
        reader.Extract(*bytes.stream, static_cast<size_t>(at), [](const uint8_t*, size_t) {});
        bytes.start = reader.ArchiveStart() + entry.Offset;
        bytes.size = entry.FileSize;

        RegisterVfs();
        static std::atomic<unsigned> opened{0};
        name = "qv-search-" + std::to_string(++opened);
        {
            RegistryLock lock;
            Registry()[name] = &bytes;
        }
        const std::string uri = "file:" + name + "?immutable=1";
        if (sqlite3_open_v2(uri.c_str(), &db, SQLITE_OPEN_READONLY | SQLITE_OPEN_URI, kVfsName) != SQLITE_OK) {
            if (!db)
                throw std::bad_alloc();
            Failed();
        }
        // The file comes from a stranger: SQLite's own guards for that.
        sqlite3_db_config(db, SQLITE_DBCONFIG_DEFENSIVE, 1, nullptr);
        sqlite3_db_config(db, SQLITE_DBCONFIG_TRUSTED_SCHEMA, 0, nullptr);
        sqlite3_exec(db, "PRAGMA cell_size_check=ON; PRAGMA query_only=ON", nullptr, nullptr, nullptr);

        sqlite3_stmt* version = nullptr;
        if (sqlite3_prepare_v2(db, "PRAGMA user_version", -1, &version, nullptr) != SQLITE_OK)
            Failed();
        const int layout = sqlite3_step(version) == SQLITE_ROW ? sqlite3_column_int(version, 0) : -1;
        sqlite3_finalize(version);
        if (layout != search_schema::kVersion)
            throw Error(site.DisplayName() + ": the search index is of another version (" + std::to_string(layout) +
                        "); build the output again with this program");

        sqlite3_stmt* all = nullptr;
        if (sqlite3_prepare_v2(db, "SELECT count(*) FROM page", -1, &all, nullptr) != SQLITE_OK)
            Failed();
        if (sqlite3_step(all) != SQLITE_ROW) {
            sqlite3_finalize(all);
            Failed();
        }
        pages = static_cast<size_t>(std::max<sqlite3_int64>(0, sqlite3_column_int64(all, 0)));
        sqlite3_finalize(all);

        const std::string query =
            "SELECT page.address, page.title, bm25(pagetext, " + std::to_string(search_schema::kTitleWeight) + ", " +
            std::to_string(search_schema::kHeadingsWeight) + ", " + std::to_string(search_schema::kBodyWeight) +
            ") AS score FROM pagetext JOIN page ON page.id = pagetext.rowid WHERE pagetext MATCH ?1 "
            "ORDER BY score, page.id LIMIT ?2 OFFSET ?3";
        if (sqlite3_prepare_v2(db, query.c_str(), -1, &find, nullptr) != SQLITE_OK)
            Failed();
        if (sqlite3_prepare_v2(db, "SELECT count(*) FROM pagetext WHERE pagetext MATCH ?1", -1, &count, nullptr) !=
            SQLITE_OK)
            Failed();
        tokenizer = std::make_unique<Tokenizer>(db);
    }

    // The terms of a typed query that FTS5 can match: one with nothing it
    // counts as a word ("&&") would match nothing.
    std::vector<SearchTerm> TermsOf(std::string_view query) const
    {
        std::vector<SearchTerm> terms = ParseSearchQuery(query);
        std::erase_if(terms, [&](const SearchTerm& t) { return tokenizer->Cut(t.text, FTS5_TOKENIZE_QUERY).empty(); });
        return terms;
    }

    Wanted WantedOf(const std::vector<SearchTerm>& terms) const
    {
        Wanted wanted;
        for (const SearchTerm& term : terms) {
            if (term.excluded)
                continue;
            const std::vector<Token> tokens =
                tokenizer->Cut(term.text, FTS5_TOKENIZE_QUERY | (term.prefix ? FTS5_TOKENIZE_PREFIX : 0));
            std::vector<Wanted::Word> words;
            for (size_t i = 0; i < tokens.size(); ++i)
                words.push_back({tokens[i].text, term.prefix && i + 1 == tokens.size()});
            if (words.size() == 1)
                wanted.words.push_back(std::move(words.front()));
            else if (!words.empty())
                wanted.phrases.push_back(std::move(words));
        }
        return wanted;
    }

    std::vector<SnippetPart> Snippet(const std::string& address, const Wanted& wanted) const
    {
        std::string ansi = site.Codec().ToAnsi(address);
        std::replace(ansi.begin(), ansi.end(), '/', '\\');
        const int64_t at = site.IndexOf(ansi);
        if (at < 0 || site.Reader().Entry(static_cast<size_t>(at)).FileSize > kMaxSnippetPage)
            return {};
        const std::vector<uint8_t> page = site.ReadAll(static_cast<size_t>(at));
        const PageText text = ExtractPageText(page.data(), page.size());
        const std::vector<Token> tokens = tokenizer->Cut(text.body, FTS5_TOKENIZE_DOCUMENT);
        return CutSnippet(text.body, tokens, wanted.Marks(tokens));
    }
};

SiteSearch::SiteSearch(const SiteArchive& site) : index_(std::make_unique<Index>(site))
{
    index_->Open();
}

SiteSearch::~SiteSearch() = default;

size_t SiteSearch::PageCount() const
{
    return index_->pages;
}

std::vector<SearchHit> SiteSearch::Find(std::string_view query, size_t limit, size_t skip) const
{
    Index& index = *index_;
    const std::vector<SearchTerm> terms = index.TermsOf(query);
    const std::string expression = MatchExpression(terms);

    constexpr size_t kMost = size_t{1} << 30;
    sqlite3_stmt* find = index.find;
    sqlite3_reset(find);
    sqlite3_bind_text(find, 1, expression.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_int64(find, 2, static_cast<sqlite3_int64>(std::min(limit, kMost)));
    sqlite3_bind_int64(find, 3, static_cast<sqlite3_int64>(std::min(skip, kMost)));
    std::vector<SearchHit> hits;
    int step;
    while ((step = sqlite3_step(find)) == SQLITE_ROW) {
        SearchHit hit;
        auto text = [&](int column) {
            const auto* chars = reinterpret_cast<const char*>(sqlite3_column_text(find, column));
            return chars ? std::string(chars, static_cast<size_t>(sqlite3_column_bytes(find, column))) : std::string();
        };
        hit.address = text(0);
        hit.title = text(1);
        hit.score = sqlite3_column_double(find, 2);
        hits.push_back(std::move(hit));
    }
    if (step != SQLITE_DONE) {
        sqlite3_reset(find);
        index.Failed();
    }
    sqlite3_reset(find);

    const Wanted wanted = index.WantedOf(terms);
    for (SearchHit& hit : hits)
        hit.snippet = index.Snippet(hit.address, wanted);
    return hits;
}

size_t SiteSearch::Count(std::string_view query) const
{
    Index& index = *index_;
    const std::string expression = MatchExpression(index.TermsOf(query));
    sqlite3_stmt* count = index.count;
    sqlite3_reset(count);
    sqlite3_bind_text(count, 1, expression.c_str(), -1, SQLITE_TRANSIENT);
    if (sqlite3_step(count) != SQLITE_ROW) {
        sqlite3_reset(count);
        index.Failed();
    }
    const sqlite3_int64 found = sqlite3_column_int64(count, 0);
    sqlite3_reset(count);
    return static_cast<size_t>(std::max<sqlite3_int64>(0, found));
}

} // namespace qv
