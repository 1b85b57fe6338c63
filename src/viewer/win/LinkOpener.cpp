#include "LinkOpener.h"

#include "SiteUrl.h"
#include "Win32FileStream.h"
#include "WinText.h"
#include "quorvane/base/Error.h"
#include "quorvane/viewercore/MimeTypes.h"

#include <shellapi.h>

namespace viewer {

namespace {

void Open(const std::wstring& target, const std::wstring& folder, HWND owner)
{
    ShellExecuteW(owner, nullptr, target.c_str(), nullptr, folder.empty() ? nullptr : folder.c_str(),
                  SW_SHOWNORMAL);
}

std::wstring WindowsPath(const std::string& sitePath)
{
    std::wstring path = Utf8ToWide(sitePath);
    for (wchar_t& c : path)
        if (c == L'/')
            c = L'\\';
    return path;
}

std::wstring FolderOf(const std::wstring& path) { return path.substr(0, path.find_last_of(L'\\')); }

void ShowFailure(HWND owner, const std::string& message)
{
    MessageBoxW(owner, Utf8ToWide(qv::ErrorBoxText(message)).c_str(), L"Quorvane Viewer", MB_OK | MB_ICONERROR);
}

} // namespace

bool IsShownInPlace(std::string_view mimeType)
{
    return mimeType.rfind("text/", 0) == 0 || mimeType.rfind("image/", 0) == 0 ||
           mimeType == "application/xhtml+xml" || mimeType == "application/xml";
}

LinkOpener::LinkOpener(const OutputFile& output) : output_(output) {}

LinkOpener::~LinkOpener()
{
    // A program that still holds a file open keeps it; the rest goes.
    for (const auto& copy : copies_) {
        DeleteFileW(copy.second.c_str());
        RemoveDirectoryW(FolderOf(copy.second).c_str());
    }
    if (!folder_.empty())
        RemoveDirectoryW(folder_.c_str());
}

bool LinkOpener::OpenOutside(const std::wstring& url, HWND owner)
{
    const std::wstring scheme = UrlScheme(url);
    if (scheme == L"http" || scheme == L"https" || scheme == L"mailto") {
        Open(url, L"", owner);
        return true;
    }
    const auto path = AddressPathOfUrl(url);
    if (!path)
        return false;
    const qv::SiteArchive& site = *output_.Site;
    const qv::SiteArchive::Target target = site.Find(WideToUtf8(*path));
    try {
        switch (target.kind) {
        case qv::SiteArchive::Target::Kind::Direct: {
            const std::wstring file = output_.Folder() + L'\\' + WindowsPath(target.sitePath);
            Open(file, FolderOf(file), owner);
            return true;
        }
        case qv::SiteArchive::Target::Kind::Entry: {
            if (IsShownInPlace(qv::MimeTypeOf(site.Reader().Entry(target.index).ArchiveName())))
                return false;
            const std::wstring file = TemporaryCopy(target.index, target.sitePath);
            Open(file, FolderOf(file), owner);
            return true;
        }
        case qv::SiteArchive::Target::Kind::Missing: return false; // the "Not found" page tells
        }
    } catch (const std::exception& e) {
        ShowFailure(owner, e.what());
        return true;
    }
    return false;
}

std::wstring LinkOpener::TemporaryCopy(size_t entry, const std::string& sitePath)
{
    if (folder_.empty()) {
        wchar_t temp[MAX_PATH + 1] = {};
        wchar_t unique[MAX_PATH + 1] = {};
        if (!GetTempPathW(MAX_PATH + 1, temp) || !GetTempFileNameW(temp, L"QVV", 0, unique))
            throw qv::Error("Cannot make a temporary file. " + WideToUtf8(SystemMessage(GetLastError())));
        // The unique name becomes a folder, so the file keeps its own name.
        DeleteFileW(unique);
        if (!CreateDirectoryW(unique, nullptr))
            throw qv::Error("Cannot make a temporary folder. " + WideToUtf8(SystemMessage(GetLastError())));
        folder_ = unique;
    }
    if (const auto known = copies_.find(entry); known != copies_.end())
        return known->second; // it may be open in its program still
    // One folder per entry: two entries of the same name keep apart.
    const std::wstring entryFolder = folder_ + L'\\' + std::to_wstring(entry);
    if (!CreateDirectoryW(entryFolder.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS)
        throw qv::Error("Cannot make a temporary folder. " + WideToUtf8(SystemMessage(GetLastError())));
    const std::wstring file = entryFolder + L'\\' + WindowsPath(sitePath.substr(sitePath.rfind('/') + 1));
    const std::vector<uint8_t> bytes = output_.Site->ReadAll(entry);
    Win32FileStream out(file, Win32FileStream::Mode::Create);
    copies_.emplace(entry, file);
    out.Write(bytes.data(), bytes.size());
    out.Close();
    return file;
}

} // namespace viewer
