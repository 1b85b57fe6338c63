#include "Console.h"

#include "WinText.h"
#include "quorvane/base/Text.h"

#include <algorithm>

#include <windows.h>

namespace viewer {

namespace {

HANDLE g_out = INVALID_HANDLE_VALUE;
HANDLE g_err = INVALID_HANDLE_VALUE;

bool Usable(HANDLE h)
{
    return h != nullptr && h != INVALID_HANDLE_VALUE && GetFileType(h) != FILE_TYPE_UNKNOWN;
}

HANDLE OpenConsoleOutput()
{
    return CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                       OPEN_EXISTING, 0, nullptr);
}

void WriteAll(HANDLE h, const char* data, size_t size)
{
    size_t done = 0;
    while (done < size) {
        const DWORD chunk = static_cast<DWORD>(std::min<size_t>(size - done, 1u << 20));
        DWORD written = 0;
        if (!WriteFile(h, data + done, chunk, &written, nullptr) || written == 0)
            return;
        done += written;
    }
}

// Names and messages may come from an archive: an escape sequence in them
// is shown, never obeyed. Line breaks and the tabs between columns are the
// callers' own layout and pass.
void Write(HANDLE h, std::wstring_view text)
{
    if (!Usable(h) || text.empty())
        return;
    const std::string utf8 = qv::TerminalText(WideToUtf8(text), "\n\t");
    DWORD mode = 0;
    DWORD written = 0;
    if (GetConsoleMode(h, &mode)) {
        const std::wstring shown = Utf8ToWide(utf8);
        WriteConsoleW(h, shown.data(), static_cast<DWORD>(shown.size()), &written, nullptr);
        return;
    }
    WriteAll(h, utf8.data(), utf8.size());
}

} // namespace

void Console::Attach()
{
    g_out = GetStdHandle(STD_OUTPUT_HANDLE);
    g_err = GetStdHandle(STD_ERROR_HANDLE);
    if (Usable(g_out) && Usable(g_err))
        return;
    if (!AttachConsole(ATTACH_PARENT_PROCESS))
        return;
    const HANDLE console = OpenConsoleOutput();
    if (!Usable(g_out)) {
        g_out = console;
        SetStdHandle(STD_OUTPUT_HANDLE, console);
    }
    if (!Usable(g_err)) {
        g_err = console;
        SetStdHandle(STD_ERROR_HANDLE, console);
    }
}

bool Console::HasError() { return Usable(g_err); }

void Console::Out(std::wstring_view text) { Write(g_out, text); }

void Console::OutBytes(const void* data, size_t size)
{
    if (Usable(g_out))
        WriteAll(g_out, static_cast<const char*>(data), size);
}

void Console::Error(std::wstring_view text) { Write(g_err, text); }

} // namespace viewer
