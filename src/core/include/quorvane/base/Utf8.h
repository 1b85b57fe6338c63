#pragma once
#include <string>
#include <string_view>

// UTF-8 and UTF-16, and the one code page every platform knows the same:
// the part of text conversion that every platform shares. Invalid UTF-8
// and lone surrogates become U+FFFD.
namespace qv {

std::u32string DecodeUtf8(std::string_view utf8);
// Length of the valid UTF-8 sequence starting at `at` (< size), whose code
// point goes to `cp`; 0 when the bytes there are not one.
size_t Utf8SequenceAt(std::string_view utf8, size_t at, char32_t& cp);
std::string EncodeUtf8(std::u32string_view text);
std::u16string ToUtf16(std::string_view utf8);
std::string FromUtf16(std::u16string_view utf16);
// A Windows-1252 byte as Unicode. The five bytes Windows leaves undefined
// map to the C1 controls of the same value, as the system's own conversion
// does.
char32_t FromWindows1252(unsigned char byte);

} // namespace qv
