#pragma once
#include "quorvane/base/Utf8.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// The system's single-byte ("ANSI") code page. Text in core is UTF-8; it is
// turned into code-page bytes only where bytes are written (short strings,
// archive names). Windows-1252 unless QUORVANE_ANSI_CODEPAGE names another
// single-byte code page (e.g. 1250, 1251) or SetAnsiCodePage is called.
namespace qv::codepage {

int AnsiCodePage();
// Accepts any single-byte code page iconv knows as "CP<n>"; throws qv::Error
// for one it does not. Not thread-safe: call at start-up.
void SetAnsiCodePage(int codePage);

// UTF-8 to code-page bytes. Characters the code page lacks, and invalid
// UTF-8 bytes, become "?". At most `maxUtf16Units` UTF-16 code units of the
// input are converted (a character outside the BMP counts as two).
std::string ToAnsi(std::string_view utf8, size_t maxUtf16Units = SIZE_MAX);
std::string FromAnsi(std::string_view ansi);

// Whether `codePage` (1252, or a single-byte code page iconv knows) has a
// byte for the character `cp`; false for a code page iconv does not know.
// Thread-safe.
bool CodePageHolds(int codePage, char32_t cp);

// The default ANSI code page of a Windows language identifier, or the
// system's when the language has none (language-neutral, Unicode-only).
int CodePageOfLanguage(uint16_t languageId);

// The UTF-8 helpers, reachable under this name as before.
using qv::DecodeUtf8;
using qv::EncodeUtf8;
using qv::FromUtf16;
using qv::ToUtf16;

} // namespace qv::codepage
