#include "WinText.h"

#include <windows.h>

namespace viewer {

namespace {

std::wstring ToWide(UINT codePage, std::string_view text)
{
    if (text.empty())
        return {};
    const int size = static_cast<int>(text.size());
    const int n = MultiByteToWideChar(codePage, 0, text.data(), size, nullptr, 0);
    std::wstring wide(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(codePage, 0, text.data(), size, wide.data(), n);
    return wide;
}

std::string ToCodePage(UINT codePage, std::wstring_view wide)
{
    if (wide.empty())
        return {};
    const int size = static_cast<int>(wide.size());
    // A UTF-8 ANSI code page takes no replacement character.
    const bool utf8 = codePage == CP_UTF8 || (codePage == CP_ACP && GetACP() == CP_UTF8);
    const char* replacement = utf8 ? nullptr : "?";
    // No look-alike letters: "Café" must not become "Cafe" on a Cyrillic
    // machine and open another entry; an unmapped letter becomes "?", as
    // the compiler writes it, so the lookup falls through to Windows-1252.
    const DWORD flags = utf8 ? 0 : WC_NO_BEST_FIT_CHARS;
    const int n = WideCharToMultiByte(codePage, flags, wide.data(), size, nullptr, 0, replacement, nullptr);
    std::string bytes(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(codePage, flags, wide.data(), size, bytes.data(), n, replacement, nullptr);
    return bytes;
}

} // namespace

std::wstring AnsiToWide(std::string_view ansi) { return ToWide(CP_ACP, ansi); }

std::string AnsiToUtf8(std::string_view ansi) { return WideToUtf8(AnsiToWide(ansi)); }

std::wstring Utf8ToWide(std::string_view utf8) { return ToWide(CP_UTF8, utf8); }

std::string WideToAnsi(std::wstring_view wide) { return ToCodePage(CP_ACP, wide); }

std::string WideToUtf8(std::wstring_view wide)
{
    if (wide.empty())
        return {};
    const int size = static_cast<int>(wide.size());
    const int n = WideCharToMultiByte(CP_UTF8, 0, wide.data(), size, nullptr, 0, nullptr, nullptr);
    std::string utf8(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide.data(), size, utf8.data(), n, nullptr, nullptr);
    return utf8;
}

qv::AnsiCodec Windows1252Codec()
{
    qv::AnsiCodec codec;
    codec.ToAnsi = [](std::string_view utf8) { return ToCodePage(kWindows1252, Utf8ToWide(utf8)); };
    codec.FromAnsi = [](std::string_view ansi) { return WideToUtf8(ToWide(kWindows1252, ansi)); };
    return codec;
}

qv::AnsiCodec WindowsAnsiCodec()
{
    qv::AnsiCodec codec;
    codec.ToAnsi = [](std::string_view utf8) { return WideToAnsi(Utf8ToWide(utf8)); };
    codec.FromAnsi = AnsiToUtf8;
    return codec;
}

std::wstring SystemMessage(unsigned long code)
{
    wchar_t* buffer = nullptr;
    const DWORD n = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                       FORMAT_MESSAGE_IGNORE_INSERTS,
                                   nullptr, code, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    std::wstring text = n ? std::wstring(buffer, n) : L"error " + std::to_wstring(code);
    if (buffer)
        LocalFree(buffer);
    while (!text.empty() && (text.back() == L'\n' || text.back() == L'\r' || text.back() == L' '))
        text.pop_back();
    return text;
}

} // namespace viewer
