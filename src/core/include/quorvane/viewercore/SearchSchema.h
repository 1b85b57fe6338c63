#pragma once
// The search index as the compiler writes it and the viewers read it: an
// SQLite database stored unchanged as the entry "-search-".
//
//   page(id INTEGER PRIMARY KEY, address TEXT, title TEXT)
//       one row per page, in entry order: its site path (UTF-8, "/" between
//       folders) and its title
//   pagetext(title, headings, body)
//       FTS5, contentless, rowid = page.id: the words only, so snippets are
//       cut from the pages themselves at query time
//
// user_version names the layout; a reader refuses any other.
namespace qv::search_schema {

inline constexpr const char* kEntryName = "-search-";
inline constexpr int kVersion = 1;
inline constexpr const char* kTokenizer = "porter unicode61 remove_diacritics 2";
// bm25 weights of title, headings and body.
inline constexpr double kTitleWeight = 10.0, kHeadingsWeight = 4.0, kBodyWeight = 1.0;

} // namespace qv::search_schema
