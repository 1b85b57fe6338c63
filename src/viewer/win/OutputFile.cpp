#include "OutputFile.h"

#include "Win32FileStream.h"
#include "WinText.h"

#include <windows.h>

namespace viewer {

std::wstring OwnPath()
{
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD n = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (n == 0)
            throw qv::Error("Cannot find the viewer's own file. " + WideToUtf8(SystemMessage(GetLastError())));
        if (n < path.size()) {
            path.resize(n);
            return path;
        }
        path.resize(path.size() * 2);
    }
}

std::wstring OutputFile::FileName() const
{
    const size_t cut = Path.find_last_of(L"\\/:");
    return cut == std::wstring::npos ? Path : Path.substr(cut + 1);
}

std::wstring OutputFile::Folder() const
{
    const size_t cut = Path.find_last_of(L"\\/");
    return cut == std::wstring::npos ? std::wstring(L".") : Path.substr(0, cut);
}

OutputFile OpenOutputFile(const std::wstring& file)
{
    OutputFile output;
    output.Own = file.empty();
    output.Path = output.Own ? OwnPath() : file;
    const std::wstring path = output.Path;
    auto open = [path]() -> std::unique_ptr<qv::Stream> {
        return std::make_unique<Win32FileStream>(path, Win32FileStream::Mode::OpenRead);
    };
    try {
        output.Site = std::make_unique<qv::SiteArchive>(open, WindowsAnsiCodec(), WideToUtf8(path));
    } catch (const qv::ArchiveNotFound&) {
        if (output.Own)
            throw qv::ArchiveNotFound("No archive is attached to this viewer");
        throw;
    }
    return output;
}

} // namespace viewer
