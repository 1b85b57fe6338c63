#include "Viewer.h"

#include "Console.h"
#include "Win32FileStream.h"
#include "WinText.h"
#include "quorvane/archive/ArchivePaths.h"
#include "quorvane/archive/ArchiveReader.h"
#include "quorvane/base/PathParts.h"
#include "quorvane/project/ProjectSettings.h"

#include <memory>
#include <new>
#include <windows.h>

namespace viewer {

namespace {

constexpr wchar_t kTitle[] = L"Quorvane Viewer";
constexpr wchar_t kUsage[] = L"usage: viewer.exe [--list [FILE] | --extract DIR [FILE] | FILE]\n";

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

std::string DecodeAnsi(std::string_view ansi) { return WideToUtf8(AnsiToWide(ansi)); }

// An archive on disk, read and verified on opening.
class Archive {
public:
    // `file` empty: the archive attached to the program itself.
    explicit Archive(const std::wstring& file)
        : own_(file.empty()), path_(own_ ? OwnPath() : file),
          stream_(path_, Win32FileStream::Mode::OpenRead), reader_(Open(stream_, path_, own_))
    {
    }
    qv::ArchiveReader& Reader() { return *reader_; }
    bool Own() const { return own_; }
    const std::wstring& Path() const { return path_; }

private:
    static std::unique_ptr<qv::ArchiveReader> Open(Win32FileStream& stream, const std::wstring& path, bool own)
    {
        qv::ArchiveReader::Options options;
        options.DecodeName = DecodeAnsi;
        options.SourceName = WideToUtf8(path);
        try {
            return std::make_unique<qv::ArchiveReader>(stream, options);
        } catch (const qv::ArchiveNotFound&) {
            if (own)
                throw qv::ArchiveNotFound("No archive is attached to this viewer");
            throw;
        }
    }

    bool own_;
    std::wstring path_;
    Win32FileStream stream_;
    std::unique_ptr<qv::ArchiveReader> reader_;
};

const wchar_t* KindName(qv::EntryStorage kind)
{
    switch (kind) {
    case qv::EntryStorage::Deflated: return L"deflated";
    case qv::EntryStorage::Stored: return L"stored";
    case qv::EntryStorage::EncryptedDeflated: return L"encrypted (deflated)";
    case qv::EntryStorage::Encrypted: return L"encrypted";
    }
    return L"unknown";
}

std::wstring CountText(size_t count)
{
    return std::to_wstring(count) + (count == 1 ? L" entry" : L" entries");
}

std::wstring EntryName(const qv::ArchiveEntry& entry) { return AnsiToWide(entry.ArchiveName()); }

int List(const std::wstring& file)
{
    Archive archive(file);
    std::wstring text;
    for (const qv::ArchiveEntry& e : archive.Reader().Entries()) {
        text += EntryName(e) + L'\t' + std::to_wstring(e.FileSize) + L'\t' + std::to_wstring(e.StoredSize()) +
                L'\t' + KindName(e.Kind()) + L'\n';
    }
    Console::Out(text);
    return 0;
}

// Paths beyond MAX_PATH need the extended prefix; `full` is absolute.
std::wstring Extended(const std::wstring& full)
{
    if (full.rfind(L"\\\\?\\", 0) == 0)
        return full;
    if (full.rfind(L"\\\\", 0) == 0)
        return L"\\\\?\\UNC\\" + full.substr(2);
    return L"\\\\?\\" + full;
}

[[noreturn]] void FailFolder(const std::wstring& folder, DWORD code)
{
    throw qv::Error("Cannot create folder \"" + WideToUtf8(folder) + "\". " + WideToUtf8(SystemMessage(code)));
}

void CreateFolder(const std::wstring& folder)
{
    if (CreateDirectoryW(folder.c_str(), nullptr))
        return;
    const DWORD error = GetLastError();
    if (error == ERROR_ALREADY_EXISTS) {
        const DWORD attributes = GetFileAttributesW(folder.c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY))
            return;
    }
    FailFolder(folder, error);
}

// The target folder and any missing parents.
void CreateTarget(const std::wstring& full)
{
    if (CreateDirectoryW(full.c_str(), nullptr))
        return;
    const DWORD error = GetLastError();
    if (error == ERROR_PATH_NOT_FOUND) {
        const size_t cut = full.find_last_of(L"\\/");
        if (cut != std::wstring::npos && cut > 0 && cut + 1 < full.size()) {
            CreateTarget(full.substr(0, cut));
            CreateFolder(full);
            return;
        }
    }
    if (error != ERROR_ALREADY_EXISTS)
        FailFolder(full, error);
    CreateFolder(full);
}

std::wstring FullPath(const std::wstring& path)
{
    const DWORD n = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
    std::wstring full(n, L'\0');
    const DWORD got = n ? GetFullPathNameW(path.c_str(), n, full.data(), nullptr) : 0;
    if (got == 0 || got >= n)
        throw qv::Error("Cannot use the folder \"" + WideToUtf8(path) + "\". " +
                        WideToUtf8(SystemMessage(GetLastError())));
    full.resize(got);
    while (full.size() > 3 && (full.back() == L'\\' || full.back() == L'/'))
        full.pop_back();
    return full;
}

// The parts of an entry's name as they will appear on disk, or a failure
// saying why the entry may not be written below the target folder.
std::vector<std::wstring> TargetParts(const qv::ArchiveEntry& entry)
{
    const std::string name = entry.ArchiveName();
    std::string reason = qv::UnsafeExtractionReason(name);
    std::vector<std::wstring> parts;
    if (reason.empty()) {
        for (const std::string& part : qv::SplitPath(name, qv::separators::kEitherSlash, qv::EmptyParts::Keep)) {
            parts.push_back(AnsiToWide(part));
            // A multi-byte code page could pair bytes differently from the
            // byte-wise check; the text that reaches the file system decides.
            if (parts.back() == L".." || parts.back().find_first_of(L"\\/:") != std::wstring::npos)
                reason = "it leads out of the target folder";
        }
    }
    if (!reason.empty())
        throw qv::Error("Refusing to extract \"" + DecodeAnsi(name) + "\": " + reason);
    return parts;
}

int Extract(const std::wstring& dir, const std::wstring& file)
{
    Archive archive(file);
    qv::ArchiveReader& reader = archive.Reader();
    // Every name is judged before anything is written.
    std::vector<std::vector<std::wstring>> targets;
    for (const qv::ArchiveEntry& e : reader.Entries())
        targets.push_back(TargetParts(e));

    const std::wstring base = FullPath(dir);
    CreateTarget(base);
    const std::wstring root = Extended(base);
    for (size_t i = 0; i < targets.size(); ++i) {
        std::wstring path = root;
        for (size_t p = 0; p + 1 < targets[i].size(); ++p) {
            path += L'\\' + targets[i][p];
            CreateFolder(path);
        }
        path += L'\\' + targets[i].back();
        try {
            Win32FileStream out(path, Win32FileStream::Mode::Create);
            try {
                reader.ExtractTo(i, out);
                out.Close();
            } catch (...) {
                out.Close();
                throw;
            }
        } catch (...) {
            // A damaged entry leaves nothing behind that looks whole.
            DeleteFileW(path.c_str());
            throw;
        }
    }
    Console::Out(L"Extracted " + CountText(targets.size()) + L" to " + base + L"\n");
    return 0;
}

std::wstring HomePage(qv::ArchiveReader& reader)
{
    const int index = reader.IndexOf("-config-");
    if (index < 0)
        return L"(no settings entry)";
    if (reader.Entry(static_cast<size_t>(index)).FileSize != static_cast<int64_t>(qv::kSettingsImageSize))
        return L"(the settings entry has the wrong size)";
    const std::vector<uint8_t> image = reader.Extract(static_cast<size_t>(index));
    const uint8_t* home = image.data() + qv::settings_offset::HomePage;
    const std::wstring page = AnsiToWide(std::string_view(reinterpret_cast<const char*>(home + 1), home[0]));
    return page.empty() ? L"(none)" : page;
}

void ShowSummary(const std::wstring& file)
{
    std::wstring text;
    UINT icon = MB_ICONINFORMATION;
    try {
        Archive archive(file);
        const size_t count = archive.Reader().Count();
        text = (archive.Own() ? std::wstring(L"This viewer") : archive.Path()) + L" holds " + CountText(count) +
               L".\nHome page: " + HomePage(archive.Reader());
    } catch (const qv::ArchiveNotFound& e) {
        text = Utf8ToWide(qv::ErrorBoxText(e.what()));
        icon = file.empty() ? MB_ICONINFORMATION : MB_ICONERROR;
    }
    MessageBoxW(nullptr, text.c_str(), kTitle, MB_OK | icon);
}

int UsageError(const std::wstring& problem)
{
    Console::Attach();
    Console::Error(problem + L"\n" + kUsage);
    return 1;
}

} // namespace

int Run(const std::vector<std::wstring>& args)
{
    const std::vector<std::wstring> rest(args.begin() + (args.empty() ? 0 : 1), args.end());
    const bool list = !rest.empty() && rest[0] == L"--list";
    const bool extract = !rest.empty() && rest[0] == L"--extract";
    try {
        if (list || extract) {
            Console::Attach();
            if (list && rest.size() <= 2)
                return List(rest.size() == 2 ? rest[1] : L"");
            if (extract && rest.size() >= 2 && rest.size() <= 3)
                return Extract(rest[1], rest.size() == 3 ? rest[2] : L"");
            return UsageError(L"wrong number of arguments for " + rest[0]);
        }
        if (!rest.empty() && (rest[0] == L"--help" || rest[0] == L"/?")) {
            Console::Attach();
            Console::Out(kUsage);
            return 0;
        }
        if (rest.size() > 1 || (!rest.empty() && rest[0].rfind(L"--", 0) == 0))
            return UsageError(L"unknown arguments");
        ShowSummary(rest.empty() ? L"" : rest[0]);
        return 0;
    } catch (const std::exception& e) {
        const std::string message = dynamic_cast<const std::bad_alloc*>(&e) ? "Out of memory" : e.what();
        if ((list || extract) && Console::HasError())
            Console::Error(Utf8ToWide(message) + L"\n");
        else
            MessageBoxW(nullptr, Utf8ToWide(qv::ErrorBoxText(message)).c_str(), kTitle, MB_OK | MB_ICONERROR);
        return 1;
    }
}

} // namespace viewer
