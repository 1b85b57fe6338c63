#include "Viewer.h"

#include "BrowserEmulation.h"
#include "Console.h"
#include "InternetConsent.h"
#include "LinkOpener.h"
#include "MainWindow.h"
#include "OutputFile.h"
#include "OutsideRequests.h"
#include "PageDownload.h"
#include "PageProtocol.h"
#include "SiteUrl.h"
#include "StartDialogs.h"
#include "Win32FileStream.h"
#include "WinText.h"
#include "quorvane/archive/ArchivePaths.h"
#include "quorvane/archive/ArchiveReader.h"
#include "quorvane/base/PathParts.h"

#include <memory>
#include <new>
#include <optional>

#include <windows.h>

#include <urlmon.h>

namespace viewer {

namespace {

constexpr wchar_t kTitle[] = L"Quorvane Viewer";
constexpr wchar_t kUsage[] =
    L"usage: viewer.exe [FILE | --list [FILE] | --extract DIR [FILE]\n"
    L"                  | --get [--range FIRST-LAST] [--type] URL-PATH|URL [FILE] | --query URL-PATH [FILE]]\n";

// COM in this thread's single-threaded apartment, as the browser control wants.
class OleSession {
public:
    OleSession()
    {
        const HRESULT hr = OleInitialize(nullptr);
        if (FAILED(hr))
            throw qv::Error("Cannot start OLE. " + WideToUtf8(SystemMessage(static_cast<DWORD>(hr))));
    }
    ~OleSession() { OleUninitialize(); }
    OleSession(const OleSession&) = delete;
    OleSession& operator=(const OleSession&) = delete;
};

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
    const std::wstring& Path() const { return path_; }

private:
    static std::unique_ptr<qv::ArchiveReader> Open(Win32FileStream& stream, const std::wstring& path, bool own)
    {
        qv::ArchiveReader::Options options;
        options.DecodeName = AnsiToUtf8;
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
        throw qv::Error("Refusing to extract \"" + AnsiToUtf8(name) + "\": " + reason);
    return parts;
}

int Extract(const std::wstring& dir, const std::wstring& file)
{
    if (!PassStartRules(*OpenOutputFile(file).Site)) {
        Console::Error(L"Nothing extracted.\n");
        return qv::kRefusedExitStatus;
    }
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

// What a page of the output gets from another server: the request guard's
// refusal, or, for the internet where the reader allowed it for this file,
// the server's bytes.
int GetOutside(const std::wstring& url, const OutputFile& output)
{
    std::optional<RequestVerdict> refused;
    OutsideRequests guard([&refused](RequestVerdict verdict, const std::wstring&) { refused = verdict; });
    if (InternetConsent(output.Path).Remembered())
        guard.AllowInternet();
    std::vector<uint8_t> bytes;
    try {
        bytes = DownloadUrl(url);
    } catch (const qv::Error&) {
        if (!refused)
            throw;
    }
    if (!refused) {
        Console::OutBytes(bytes.data(), bytes.size());
        return 0;
    }
    Console::Error(L"Refused: " + url +
                   (*refused == RequestVerdict::LocalRefused
                        ? L" is on this computer or its network, which pages never reach\n"
                        : L" is on the internet, which pages reach only when the reader allows it\n"));
    return 1;
}

// What a page of the output gets for `reference`, resolved against the
// site's root as a link in the home folder would be; `range` ("0-99") asks
// for part of an entry, as a video does. A redirect is told on the error
// stream, and with `showType` the type the engine was given.
int Get(const std::wstring& reference, const std::wstring& range, const std::wstring& file, bool showType)
{
    const OutputFile output = OpenOutputFile(file);
    if (!PassStartRules(*output.Site)) {
        Console::Error(L"Nothing read.\n");
        return qv::kRefusedExitStatus;
    }
    OleSession ole;
    const std::wstring url = CombineSiteUrl(SiteUrlOf(L""), reference).value_or(reference);
    if (!IsSiteUrl(url)) {
        const std::wstring scheme = UrlScheme(url);
        if (scheme == L"http" || scheme == L"https" || scheme == L"ftp")
            return GetOutside(url, output);
        throw qv::Error("Not a page address: " + WideToUtf8(url));
    }
    bool served = false;
    PageReply::Kind kind = PageReply::Kind::Missing;
    std::string reason;
    PageProtocol protocol(output, [&](const PageReply& reply) {
        served = true;
        kind = reply.kind;
        reason = reply.reason;
    });
    std::vector<uint8_t> bytes;
    DownloadNotes notes;
    try {
        bytes = DownloadUrl(url, range.empty() ? std::wstring() : L"Range: bytes=" + range + L"\r\n", &notes);
    } catch (const qv::Error&) {
        // A part of a page that is not there fails; the reason is ours.
        if (!served || kind == PageReply::Kind::Entry)
            throw;
    }
    if (!served)
        throw qv::Error("The page protocol was not asked for " + WideToUtf8(url));
    for (const std::wstring& to : notes.redirects)
        Console::Error(L"Redirected to " + to + L"\n");
    if (showType)
        Console::Error(L"Type: " + notes.type + L"\n");
    // Whatever the protocol handed over is shown, a page about a refusal too.
    Console::OutBytes(bytes.data(), bytes.size());
    if (kind != PageReply::Kind::Entry && kind != PageReply::Kind::Search) {
        Console::Error(Utf8ToWide(reason) + L"\n");
        return 1;
    }
    return 0;
}

// The protocol's answers about an address, as the engine asks them.
int Query(const std::wstring& reference, const std::wstring& file)
{
    const OutputFile output = OpenOutputFile(file);
    OleSession ole;
    PageProtocol protocol(output);
    const std::wstring url = CombineSiteUrl(SiteUrlOf(L""), reference).value_or(reference);
    const struct {
        QUERYOPTION option;
        const wchar_t* name;
    } asked[] = {{QUERY_IS_SECURE, L"secure"}, {QUERY_IS_SAFE, L"safe"}, {QUERY_CAN_NAVIGATE, L"can navigate"}};
    std::wstring text;
    for (const auto& a : asked) {
        DWORD answer = 0;
        DWORD written = 0;
        const HRESULT hr = CoInternetQueryInfo(url.c_str(), a.option, 0, &answer, sizeof answer, &written, 0);
        text += std::wstring(a.name) + L": " + (hr != S_OK ? L"no answer" : answer ? L"yes" : L"no") + L"\n";
    }
    Console::Out(text);
    return 0;
}

int Show(const std::wstring& file)
{
    const OutputFile output = OpenOutputFile(file);
    // Nothing of the site before the start rules let it open.
    if (!PassStartRules(*output.Site))
        return qv::kRefusedExitStatus;
    OleSession ole;
    const std::wstring own = OwnPath();
    const DocumentModeRequest documentMode(own.substr(own.find_last_of(L"\\/") + 1));
    // A click on every link is a sound nobody asked for.
    CoInternetSetFeatureEnabled(FEATURE_DISABLE_NAVIGATION_SOUNDS, SET_FEATURE_ON_PROCESS, TRUE);
    const std::string& agent = output.Site->Settings().UserAgent;
    if (!agent.empty())
        UrlMkSetSessionOption(URLMON_OPTION_USERAGENT, const_cast<char*>(agent.data()),
                              static_cast<DWORD>(agent.size()), 0);
    PageProtocol protocol(output);
    LinkOpener links(output);
    MainWindow window(output, links);
    window.Show();
    return window.Run();
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
    const bool get = !rest.empty() && rest[0] == L"--get";
    const bool query = !rest.empty() && rest[0] == L"--query";
    const bool console = list || extract || get || query;
    try {
        if (console) {
            Console::Attach();
            if (list && rest.size() <= 2)
                return List(rest.size() == 2 ? rest[1] : L"");
            if (extract && rest.size() >= 2 && rest.size() <= 3)
                return Extract(rest[1], rest.size() == 3 ? rest[2] : L"");
            if (get) {
                size_t at = 1;
                std::wstring range;
                bool showType = false;
                for (; at + 1 < rest.size() && (rest[at] == L"--range" || rest[at] == L"--type"); ++at)
                    if (rest[at] == L"--type")
                        showType = true;
                    else
                        range = rest[++at];
                if (at < rest.size() && rest.size() <= at + 2)
                    return Get(rest[at], range, at + 2 == rest.size() ? rest.back() : L"", showType);
            }
            if (query && rest.size() >= 2 && rest.size() <= 3)
                return Query(rest[1], rest.size() == 3 ? rest[2] : L"");
            return UsageError(L"wrong number of arguments for " + rest[0]);
        }
        if (!rest.empty() && (rest[0] == L"--help" || rest[0] == L"/?")) {
            Console::Attach();
            Console::Out(kUsage);
            return 0;
        }
        if (rest.size() > 1 || (!rest.empty() && rest[0].rfind(L"--", 0) == 0))
            return UsageError(L"unknown arguments");
        return Show(rest.empty() ? L"" : rest[0]);
    } catch (const std::exception& e) {
        const std::string message = dynamic_cast<const std::bad_alloc*>(&e) ? "Out of memory" : e.what();
        if (console && Console::HasError())
            Console::Error(Utf8ToWide(message) + L"\n");
        else
            MessageBoxW(nullptr, Utf8ToWide(qv::ErrorBoxText(message)).c_str(), kTitle, MB_OK | MB_ICONERROR);
        return 1;
    }
}

} // namespace viewer
