#include "LinkOpener.h"

#include "PageProtocol.h"
#include "SiteUrl.h"
#include "Win32FileStream.h"
#include "WinText.h"
#include "quorvane/base/Error.h"
#include "quorvane/viewercore/HandOver.h"
#include "quorvane/viewercore/MimeTypes.h"

#include <shellapi.h>
#include <shlwapi.h>

namespace viewer {

namespace {

void HandToDesktop(const std::wstring& target, const std::wstring& folder, HWND owner)
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

constexpr wchar_t kTitle[] = L"Quorvane Viewer";

void ShowFailure(HWND owner, const std::string& message)
{
    MessageBoxW(owner, Utf8ToWide(qv::ErrorBoxText(message)).c_str(), kTitle, MB_OK | MB_ICONERROR);
}

// The program the desktop opens a file of this name with ("Adobe Acrobat");
// empty when it does not say.
std::wstring HandlerOf(const std::string& fileName)
{
    const size_t dot = fileName.rfind('.');
    if (dot == std::string::npos)
        return {};
    const std::wstring extension = Utf8ToWide(fileName.substr(dot));
    wchar_t name[MAX_PATH] = {};
    DWORD size = MAX_PATH;
    if (FAILED(AssocQueryStringW(ASSOCF_NOTRUNCATE, ASSOCSTR_FRIENDLYAPPNAME, extension.c_str(), nullptr, name, &size)))
        return {};
    return name;
}

} // namespace

bool IsShownInPlace(std::string_view mimeType)
{
    return mimeType.rfind("text/", 0) == 0 || mimeType.rfind("image/", 0) == 0 ||
           mimeType == "application/xhtml+xml" || mimeType == "application/xml";
}

bool IsRefusedProgram(std::string_view entryName)
{
    return qv::IsProgramFile(entryName) && !IsShownInPlace(qv::MimeTypeOf(entryName));
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

LinkOpener::Result LinkOpener::Open(const std::wstring& url, HWND owner, bool clicked)
{
    const std::wstring scheme = UrlScheme(url);
    if (scheme == L"http" || scheme == L"https" || scheme == L"mailto") {
        if (!clicked)
            return {Outcome::NeedsClick, url};
        HandToDesktop(url, L"", owner);
        return {Outcome::Handled, url};
    }
    if (!IsShownScheme(scheme))
        return {Outcome::Foreign, url};
    const auto path = AddressPathOfUrl(url);
    if (!path)
        return {};
    const qv::SiteArchive& site = *output_.Site;
    const qv::SiteArchive::Target target = FindPage(site, WideToUtf8(*path));
    const std::wstring shown = Utf8ToWide(target.sitePath);
    try {
        switch (target.kind) {
        case qv::SiteArchive::Target::Kind::Direct: {
            const std::wstring file = output_.Folder() + L'\\' + WindowsPath(target.sitePath);
            if (GetFileAttributesW(file.c_str()) == INVALID_FILE_ATTRIBUTES)
                return {}; // the "Not found" page tells
            if (!clicked)
                return {Outcome::NeedsClick, shown};
            if (Confirmed(owner, target.sitePath, true))
                HandToDesktop(file, FolderOf(file), owner);
            return {Outcome::Handled, shown};
        }
        case qv::SiteArchive::Target::Kind::Entry: {
            const std::string name = site.Reader().Entry(target.index).ArchiveName();
            if (IsRefusedProgram(name))
                return {Outcome::Program, shown};
            std::string type;
            try {
                type = ShownTypeOf(site, target.index);
            } catch (const qv::Error&) {
                return {}; // the page protocol's page tells of the damage
            }
            if (IsShownInPlace(type))
                return {};
            if (!clicked)
                return {Outcome::NeedsClick, shown};
            if (Confirmed(owner, target.sitePath, false)) {
                const std::wstring file = TemporaryCopy(target.index, target.sitePath);
                HandToDesktop(file, FolderOf(file), owner);
            }
            return {Outcome::Handled, shown};
        }
        case qv::SiteArchive::Target::Kind::Missing: return {}; // the "Not found" page tells
        }
    } catch (const std::exception& e) {
        ShowFailure(owner, e.what());
        return {Outcome::Handled, shown};
    }
    return {};
}

bool LinkOpener::Confirmed(HWND owner, const std::string& sitePath, bool beside) const
{
    const std::string fileName = sitePath.substr(sitePath.rfind('/') + 1);
    const std::wstring question = Utf8ToWide(qv::HandOverQuestion(fileName, WideToUtf8(HandlerOf(fileName)), beside));
    return MessageBoxW(owner, question.c_str(), kTitle, MB_YESNO | MB_ICONWARNING | MB_DEFBUTTON2) == IDYES;
}

std::wstring LinkOpener::TemporaryCopy(size_t entry, const std::string& sitePath)
{
    if (folder_.empty())
        folder_ = MakeTemporaryFolder();
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
