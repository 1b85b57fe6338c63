#pragma once
#include <string>
#include <string_view>

// UTF-8 and UTF-16 without any code page: the part of text conversion that
// every platform shares. Invalid UTF-8 and lone surrogates become U+FFFD.
namespace qv {

std::u32string DecodeUtf8(std::string_view utf8);
std::string EncodeUtf8(std::u32string_view text);
std::u16string ToUtf16(std::string_view utf8);
std::string FromUtf16(std::u16string_view utf16);

} // namespace qv
