#pragma once
#include <string>
#include <string_view>

// Portable: the charset a viewer names for text that names none. Saved
// pages often declare nothing, and a browser left to guess shows their
// UTF-8 as mojibake; the bytes themselves tell better.
namespace qv {

// The charset the bytes declare themselves, in lower case: "utf-8",
// "utf-16le" or "utf-16be" for a byte order mark; for text/html the one of
// a <meta charset> or <meta http-equiv="Content-Type"> within the first
// 1024 bytes, outside comments; for text/css the one of an @charset rule at
// the start. Empty when they declare none.
std::string DeclaredCharset(std::string_view type, std::string_view bytes);

// Whether `bytes` are UTF-8 throughout. With `head` (the bytes begin a
// longer text) a sequence cut off at the end still counts.
bool IsUtf8(std::string_view bytes, bool head = false);

// Whether text of this type (text/html, text/plain, text/css,
// text/javascript) is given a charset by ContentTypeWithCharset.
bool TakesCharset(std::string_view type);

// The Content-Type for text of `type` whose bytes declare no charset:
// "; charset=utf-8" appended when they are UTF-8, else
// "; charset=windows-1252", what pages of that age were mostly written in.
// Other types, and text that declares its own, are given back unchanged
// (the browser reads the declaration). `bytes` are the whole text, or with
// `head` its beginning.
std::string ContentTypeWithCharset(std::string_view type, std::string_view bytes, bool head = false);

} // namespace qv
