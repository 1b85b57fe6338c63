#include "Win32FileStream.h"

#include "WinText.h"
#include "quorvane/base/Error.h"

#include <algorithm>
#include <windows.h>

namespace viewer {

namespace {

// One call moves at most this much, well inside a DWORD.
constexpr size_t kMaxIo = 1u << 30;

OVERLAPPED At(int64_t position)
{
    OVERLAPPED o{};
    o.Offset = static_cast<DWORD>(static_cast<uint64_t>(position));
    o.OffsetHigh = static_cast<DWORD>(static_cast<uint64_t>(position) >> 32);
    return o;
}

} // namespace

Win32FileStream::Win32FileStream(const std::wstring& path, Mode mode) : path_(path)
{
    // Reading shares with the loader, which keeps a running program open.
    handle_ = mode == Mode::OpenRead
                  ? CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr)
                  : CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle_ == INVALID_HANDLE_VALUE)
        Fail(mode == Mode::OpenRead ? "Cannot open file" : "Cannot create file", GetLastError());
}

Win32FileStream::~Win32FileStream()
{
    if (handle_ != INVALID_HANDLE_VALUE)
        CloseHandle(handle_);
}

void Win32FileStream::Close()
{
    if (handle_ == INVALID_HANDLE_VALUE)
        return;
    HANDLE h = handle_;
    handle_ = INVALID_HANDLE_VALUE;
    if (!CloseHandle(h))
        Fail("Cannot write file", GetLastError());
}

void Win32FileStream::Fail(const char* what, unsigned long code) const
{
    throw qv::Error(std::string(what) + " \"" + WideToUtf8(path_) + "\". " + WideToUtf8(SystemMessage(code)));
}

int64_t Win32FileStream::Size() const
{
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(handle_, &size))
        Fail("Cannot read file", GetLastError());
    return size.QuadPart;
}

void Win32FileStream::Seek(int64_t position)
{
    if (position < 0)
        throw qv::Error("Stream seek error");
    position_ = position;
}

size_t Win32FileStream::Read(void* buffer, size_t count)
{
    size_t done = 0;
    auto* out = static_cast<char*>(buffer);
    while (done < count) {
        OVERLAPPED o = At(position_);
        DWORD got = 0;
        const DWORD ask = static_cast<DWORD>(std::min(count - done, kMaxIo));
        if (!ReadFile(handle_, out + done, ask, &got, &o)) {
            const DWORD error = GetLastError();
            if (error == ERROR_HANDLE_EOF)
                break;
            Fail("Cannot read file", error);
        }
        if (got == 0)
            break;
        done += got;
        position_ += got;
    }
    return done;
}

void Win32FileStream::Write(const void* buffer, size_t count)
{
    size_t done = 0;
    const auto* in = static_cast<const char*>(buffer);
    while (done < count) {
        OVERLAPPED o = At(position_);
        DWORD put = 0;
        const DWORD ask = static_cast<DWORD>(std::min(count - done, kMaxIo));
        if (!WriteFile(handle_, in + done, ask, &put, &o))
            Fail("Cannot write file", GetLastError());
        if (put == 0)
            Fail("Cannot write file", ERROR_WRITE_FAULT);
        done += put;
        position_ += put;
    }
}

void Win32FileStream::SetSize(int64_t size)
{
    LARGE_INTEGER to{};
    to.QuadPart = size;
    if (!SetFilePointerEx(handle_, to, nullptr, FILE_BEGIN) || !SetEndOfFile(handle_))
        Fail("Cannot write file", GetLastError());
}

std::wstring MakeTemporaryFolder()
{
    wchar_t temp[MAX_PATH + 1] = {};
    wchar_t unique[MAX_PATH + 1] = {};
    if (!GetTempPathW(MAX_PATH + 1, temp) || !GetTempFileNameW(temp, L"QVV", 0, unique))
        throw qv::Error("Cannot make a temporary file. " + WideToUtf8(SystemMessage(GetLastError())));
    // The unique name becomes a folder, so the files in it keep their own names.
    DeleteFileW(unique);
    if (!CreateDirectoryW(unique, nullptr))
        throw qv::Error("Cannot make a temporary folder. " + WideToUtf8(SystemMessage(GetLastError())));
    return unique;
}

} // namespace viewer
