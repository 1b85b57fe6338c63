#include "quorvane/check/SiteCheck.h"

#include "quorvane/base/Error.h"
#include "quorvane/base/Stream.h"
#include "quorvane/base/Text.h"
#include "quorvane/archive/ArchivePaths.h"
#include "quorvane/compile/FileCollection.h"
#include "quorvane/check/PageReferences.h"
#include "quorvane/project/ProjectPaths.h"
#include "quorvane/platform/FileSystem.h"
#include "quorvane/viewercore/MimeTypes.h"
#include "quorvane/viewercore/PageAddress.h"
#include "quorvane/viewercore/SiteArchive.h"
#include "quorvane/viewercore/SiteFile.h"

#include <algorithm>
#include <atomic>
#include <exception>
#include <map>
#include <optional>
#include <set>
#include <system_error>
#include <thread>
#include <tuple>
#include <unordered_map>

namespace qv {
namespace {

using Kind = CheckFinding::Kind;

enum class FileKind { Page, Stylesheet, Other };

FileKind KindOfFile(std::string_view name)
{
    const std::string_view type = MimeTypeOf(name);
    if (type == "text/html" || type == "application/xhtml+xml")
        return FileKind::Page;
    return type == "text/css" ? FileKind::Stylesheet : FileKind::Other;
}

// What the build's collection said about each file and folder it left out.
struct LeftOut final : CollectListener {
    std::vector<std::pair<std::string, std::string>> files, folders;
    void Included(const std::string&, const std::string&) override {}
    void Excluded(const std::string& path, const std::string& rule) override
    {
        (path.back() == '/' ? folders : files).emplace_back(path, rule);
    }
};

// Browsers drop blanks and controls around an address, and tabs and line
// breaks inside it.
std::string Cleaned(std::string_view text)
{
    std::string clean;
    for (const char c : TrimControls(text))
        if (c != '\t' && c != '\n' && c != '\r')
            clean += c;
    return clean;
}

// Rooted ("/pages/a.html") is relative to the root: both viewers serve the
// site at the root of its own origin.
enum class Form { External, Absolute, Rooted, Relative };

Form FormOf(std::string_view ref)
{
    auto alpha = [](char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); };
    if (!ref.empty() && alpha(ref[0])) {
        size_t i = 1;
        while (i < ref.size() && (alpha(ref[i]) || (ref[i] >= '0' && ref[i] <= '9') || ref[i] == '+' ||
                                  ref[i] == '-' || ref[i] == '.'))
            ++i;
        if (i < ref.size() && ref[i] == ':') {
            // One letter is a drive, not a scheme.
            if (i == 1 || EqualAsciiNoCase(ref.substr(0, i), "file"))
                return Form::Absolute;
            return Form::External;
        }
    }
    if (ref.substr(0, 2) == "//")
        return Form::External;
    // A browser reads "/\host" as another server, and "\x" is a path on a disk.
    if (!ref.empty() && ref[0] == '/' && (ref.size() == 1 || ref[1] != '\\'))
        return Form::Rooted;
    if (!ref.empty() && (ref[0] == '/' || ref[0] == '\\'))
        return Form::Absolute;
    return Form::Relative;
}

std::string FolderOfAddress(const std::string& address) { return address.substr(0, address.rfind('/') + 1); }

std::string ReadText(const std::string& path)
{
    FileStream file(path, FileStream::Mode::OpenRead);
    std::string text(static_cast<size_t>(file.Size()), '\0');
    file.ReadExact(text.data(), text.size());
    return text;
}

class Checker {
public:
    Checker(const ProjectSettingsRecord& settings, unsigned threads, const CheckControl& control);
    CheckReport Run();

private:
    struct File {
        std::string path, rel, address;
        FileKind kind;
        PageScan scan;
    };
    struct Target {
        std::optional<size_t> file;
        bool besideOutput = false; // not packed, but where the viewer looks for it
        bool isOutput = false;
        std::string sitePath; // what the address names, from the root
        Kind kind = Kind::Missing;
        std::string reason; // "does not exist", "is not packed: ...": follows "the target "
    };

    std::string AnsiName(const std::string& rel) const;
    std::string KeyOf(const std::string& rel) const { return AsciiLower(AnsiName(rel)); }
    void Scan();
    Target Find(const std::string& address) const;
    Target Explain(const std::string& key, const std::string& sitePath) const;
    Target Unpacked(const std::string& key, const std::string& sitePath) const;
    void CheckHome();
    void CheckFile(const File& file);
    void Reference(const File& file, const PageReference& ref, const std::string& folder);
    void Add(const File& file, Kind kind, int line, const std::string& reference, std::string message,
             std::string target = {});

    ProjectSettingsRecord settings_;
    unsigned threads_;
    const CheckControl& control_;
    AnsiCodec codec_ = SystemAnsiCodec();
    std::string root_, outputKey_, outputFolder_;
    std::vector<File> files_;
    std::unordered_map<std::string, size_t> packed_;
    std::unordered_map<std::string, std::string> leftOutFiles_, leftOutFolders_;
    CheckReport report_;
    // Per page: (kind, reference) -> finding, so that a repeat adds a line.
    std::map<std::pair<Kind, std::string>, size_t> seen_;
    std::vector<CheckFinding> pageFindings_;
};

Checker::Checker(const ProjectSettingsRecord& settings, unsigned threads, const CheckControl& control)
    : settings_(settings), threads_(threads), control_(control)
{
    if (threads_ == 0)
        threads_ = std::max(1u, std::thread::hardware_concurrency());
}

// The archive name the build gives a file; with A-Z folded (KeyOf) it is
// what the viewers look names up by.
std::string Checker::AnsiName(const std::string& rel) const
{
    return codec_.ToAnsi(EntryName(rel));
}

CheckReport Checker::Run()
{
    root_ = ProjectRoot(settings_);
    report_.root = root_;
    std::vector<std::string> list;
    LeftOut leftOut;
    CollectFiles(list, settings_, root_, &leftOut);
    const std::string output = ResolveOutputPath(settings_);
    outputFolder_ = fs::FolderOf(output);
    if (output.rfind(root_, 0) == 0)
        outputKey_ = KeyOf(output.substr(root_.size()));
    for (const auto& [path, rule] : leftOut.files)
        leftOutFiles_.emplace(KeyOf(path.substr(root_.size())), rule);
    for (const auto& [path, rule] : leftOut.folders)
        leftOutFolders_.emplace(KeyOf(path.substr(root_.size())), rule);

    files_.reserve(list.size());
    for (const std::string& path : list) {
        File f;
        f.path = path;
        f.rel = path.substr(root_.size());
        const std::string name = AnsiName(f.rel);
        f.address = AddressPathOf(name, codec_);
        f.kind = KindOfFile(f.rel);
        packed_.emplace(AsciiLower(name), files_.size());
        files_.push_back(std::move(f));
    }
    Scan();

    CheckHome();
    for (const ForeignName& name : NamesOutsideCodePage(list, root_)) {
        CheckFinding f;
        f.kind = Kind::CodePage;
        f.page = name.path.substr(root_.size());
        f.reference = f.page;
        f.message = ForeignNameText(name);
        report_.findings.push_back(std::move(f));
    }
    for (const File& file : files_) {
        if (file.kind == FileKind::Other)
            continue;
        ++(file.kind == FileKind::Page ? report_.pages : report_.stylesheets);
        CheckFile(file);
    }
    return std::move(report_);
}

// Pages are parsed on several threads: the parser is most of the time.
void Checker::Scan()
{
    std::vector<size_t> todo;
    for (size_t i = 0; i < files_.size(); ++i)
        if (files_[i].kind != FileKind::Other)
            todo.push_back(i);
    std::vector<std::exception_ptr> failures(todo.size());
    std::atomic<size_t> next{0}, done{0};
    auto work = [&] {
        for (size_t n; (n = next.fetch_add(1)) < todo.size();) {
            if (control_.cancel && *control_.cancel)
                return;
            File& f = files_[todo[n]];
            try {
                std::string text = ReadText(f.path);
                // Pages that are not UTF-8 are taken to be in the writer's code page.
                if (!IsUtf8(text))
                    text = codec_.FromAnsi(text);
                if (f.kind == FileKind::Page)
                    f.scan = ScanHtml(text);
                else
                    ScanCss(text, 1, f.scan.references);
            } catch (...) {
                failures[n] = std::current_exception();
            }
            if (control_.progress)
                control_.progress(done.fetch_add(1) + 1, todo.size());
        }
    };
    std::vector<std::thread> pool;
    const size_t count = std::min<size_t>(threads_, todo.size());
    for (size_t t = 1; t < count; ++t) {
        try {
            pool.emplace_back(work);
        } catch (const std::system_error&) {
            break; // fewer threads do the same work
        }
    }
    work();
    for (std::thread& t : pool)
        t.join();
    if (control_.cancel && *control_.cancel)
        throw CheckCancelled();
    for (const std::exception_ptr& failure : failures)
        if (failure)
            std::rethrow_exception(failure);
}

Checker::Target Checker::Find(const std::string& address) const
{
    Target target;
    const auto sitePath = SitePathOf(address);
    target.sitePath = sitePath.value_or("");
    if (!sitePath) {
        target.reason = "does not exist";
        return target;
    }
    if (sitePath->empty()) {
        // The root folder shows the home page, which lies in it.
        if (const auto it = packed_.find(KeyOf(fs::FileNameOf(settings_.HomePage.str()))); it != packed_.end()) {
            target.file = it->second;
            return target;
        }
        target.reason = "is the root folder, whose home page the output lacks";
        return target;
    }
    const auto name = EntryNameOf(address, codec_);
    if (name) {
        if (const auto it = packed_.find(AsciiLower(*name)); it != packed_.end()) {
            target.file = it->second;
            return target;
        }
        // A folder shows its page in both viewers.
        std::string folder = *name;
        if (!folder.empty() && folder.back() == '\\')
            folder.pop_back();
        for (const std::string_view page : SiteArchive::kFolderPages)
            if (const auto it = packed_.find(AsciiLower(folder + '\\' + std::string(page))); it != packed_.end()) {
                target.file = it->second;
                return target;
            }
    }
    Target explained = Explain(name ? AsciiLower(*name) : std::string(), *sitePath);
    explained.sitePath = *sitePath;
    return explained;
}

Checker::Target Checker::Explain(const std::string& key, const std::string& sitePath) const
{
    Target t = Unpacked(key, sitePath);
    // The viewer opens such a file from beside the output, whichever rule
    // kept it out of the archive.
    if (t.kind == Kind::NotPacked && !t.isOutput && DirectMaskTakes(sitePath, settings_.DirectMask.str()))
        t.reason += " (the viewer looks for it beside the output)";
    return t;
}

Checker::Target Checker::Unpacked(const std::string& key, const std::string& sitePath) const
{
    Target t;
    t.kind = Kind::NotPacked;
    if (!key.empty() && key == outputKey_) {
        t.isOutput = true;
        t.reason = "is not packed: it is the output itself";
        return t;
    }
    if (const auto it = leftOutFiles_.find(key); it != leftOutFiles_.end()) {
        t.reason = "is not packed: " + it->second;
        return t;
    }
    for (size_t slash = key.find('\\'); slash != std::string::npos; slash = key.find('\\', slash + 1))
        if (const auto it = leftOutFolders_.find(key.substr(0, slash + 1)); it != leftOutFolders_.end()) {
            t.reason = "is not packed: " + it->second + " (" + sitePath.substr(0, slash + 1) + ")";
            return t;
        }
    const std::string path = root_ + sitePath;
    if (fs::FileExists(path)) {
        // The collection names no rule for dot files that no include mask takes.
        const std::string name = fs::FileNameOf(path);
        t.reason = name.front() == '.' ? "is not packed: name begins with \".\"" : "is not packed";
        return t;
    }
    t.kind = Kind::Missing;
    if (fs::FolderExists(path)) {
        t.reason = "is a folder without a page of its own (index.html, index.htm or default.htm)";
    } else if (DirectMaskTakes(sitePath, settings_.DirectMask.str())) {
        t.besideOutput = fs::FileExists(outputFolder_ + sitePath);
        t.reason = "does not exist, here or beside the output";
    } else {
        t.reason = "does not exist";
    }
    return t;
}

void Checker::CheckHome()
{
    const std::string home = settings_.HomePage.str();
    const std::string rel = fs::FileNameOf(home); // the root is the home page's folder
    std::string problem;
    if (home.empty())
        problem = "no home page is set";
    else if (!fs::FileExists(home))
        problem = "the home page does not exist";
    else if (const auto it = packed_.find(KeyOf(rel)); it == packed_.end())
        problem = "the home page " + Explain(KeyOf(rel), rel).reason;
    else if (files_[it->second].kind != FileKind::Page)
        problem = "the home page is not a page (" + std::string(MimeTypeOf(rel)) + ")";
    if (!problem.empty()) {
        CheckFinding f;
        f.kind = Kind::HomePage;
        f.page = rel;
        f.reference = rel;
        f.message = std::move(problem);
        report_.findings.push_back(std::move(f));
    }
}

void Checker::CheckFile(const File& file)
{
    seen_.clear();
    pageFindings_.clear();
    std::string folder = FolderOfAddress(file.address);
    bool baseUsable = true;
    if (file.scan.hasBase) {
        const std::string base = Cleaned(file.scan.baseHref);
        const Form form = FormOf(base);
        if (form == Form::Relative || form == Form::Rooted) {
            const std::string address =
                (form == Form::Rooted ? std::string() : folder) + base.substr(0, base.find_first_of("?#"));
            if (LeavesRoot(address))
                Add(file, Kind::LeavesRoot, file.scan.baseLine, file.scan.baseHref,
                    "the reference leaves the root folder");
            folder = FolderOfAddress(address);
        } else {
            // Relative references then lead outside the output.
            baseUsable = false;
            if (form == Form::Absolute)
                Add(file, Kind::Absolute, file.scan.baseLine, file.scan.baseHref, "an absolute local reference");
        }
    }
    for (const PageReference& ref : file.scan.references) {
        ++report_.references;
        if (!baseUsable && FormOf(Cleaned(ref.text)) == Form::Relative) {
            ++report_.external;
            continue;
        }
        Reference(file, ref, folder);
    }
    std::stable_sort(pageFindings_.begin(), pageFindings_.end(),
                     [](const CheckFinding& a, const CheckFinding& b) { return a.line < b.line; });
    for (CheckFinding& f : pageFindings_)
        report_.findings.push_back(std::move(f));
}

void Checker::Reference(const File& file, const PageReference& ref, const std::string& folder)
{
    const std::string clean = Cleaned(ref.text);
    const Form form = FormOf(clean);
    switch (form) {
    case Form::External:
        ++report_.external;
        return;
    case Form::Absolute:
        Add(file, Kind::Absolute, ref.line, ref.text, "an absolute local reference");
        return;
    case Form::Rooted:
    case Form::Relative:
        break;
    }
    const size_t hash = clean.find('#');
    const std::string path = clean.substr(0, std::min(hash, clean.find('?')));
    const std::string address = form == Form::Rooted ? path : path.empty() ? file.address : folder + path;
    if (LeavesRoot(address)) {
        Add(file, Kind::LeavesRoot, ref.line, ref.text, "the reference leaves the root folder");
        return;
    }
    const Target target = Find(address);
    if (target.besideOutput)
        return;
    if (!target.file) {
        Add(file, target.kind, ref.line, ref.text, "the target " + target.reason, target.sitePath);
        return;
    }
    const File& to = files_[*target.file];
    if (hash == std::string::npos || to.kind != FileKind::Page)
        return;
    const std::string fragment = clean.substr(hash + 1);
    if (fragment.empty() || EqualAsciiNoCase(fragment, "top") || to.scan.anchors.count(fragment) ||
        to.scan.anchors.count(PercentDecode(fragment)))
        return;
    Add(file, Kind::Fragment, ref.line, ref.text, "the target page has no id or name \"" + fragment + "\"", to.rel);
}

void Checker::Add(const File& file, Kind kind, int line, const std::string& reference, std::string message,
                  std::string target)
{
    const auto [it, added] = seen_.emplace(std::make_pair(kind, reference), pageFindings_.size());
    if (!added) {
        pageFindings_[it->second].more.push_back(line);
        return;
    }
    CheckFinding f;
    f.kind = kind;
    f.page = file.rel;
    f.line = line;
    f.reference = reference;
    f.message = std::move(message);
    f.target = std::move(target);
    pageFindings_.push_back(std::move(f));
}

} // namespace

const char* KindName(CheckFinding::Kind kind)
{
    switch (kind) {
    case Kind::Missing: return "missing";
    case Kind::NotPacked: return "not-packed";
    case Kind::LeavesRoot: return "leaves-root";
    case Kind::Absolute: return "absolute";
    case Kind::Fragment: return "fragment";
    case Kind::HomePage: return "home-page";
    case Kind::CodePage: return "code-page";
    }
    return "missing";
}

const std::vector<CheckFinding::Kind>& FindingKinds()
{
    static const std::vector<Kind> kinds = {Kind::HomePage,   Kind::CodePage, Kind::Missing, Kind::NotPacked,
                                            Kind::LeavesRoot, Kind::Absolute, Kind::Fragment};
    return kinds;
}

bool KindOfName(std::string_view name, CheckFinding::Kind& kind)
{
    for (const Kind k : FindingKinds())
        if (name == KindName(k)) {
            kind = k;
            return true;
        }
    return false;
}

std::vector<std::vector<size_t>> GroupFindings(const std::vector<CheckFinding>& findings)
{
    std::vector<std::vector<size_t>> groups;
    // A reference that resolves breaks by its target (A-Z case ignored, as
    // the viewers look names up), whatever its spelling and fragment; one
    // that does not, by what is written.
    std::map<std::tuple<Kind, bool, std::string, std::string_view>, size_t> index;
    for (size_t i = 0; i < findings.size(); ++i) {
        const CheckFinding& f = findings[i];
        const bool resolved = !f.target.empty();
        const auto [it, added] = index.emplace(
            std::make_tuple(f.kind, resolved, resolved ? AsciiLower(f.target) : f.reference,
                            std::string_view(f.message)),
            groups.size());
        if (added)
            groups.emplace_back();
        groups[it->second].push_back(i);
    }
    return groups;
}

std::vector<KindSummary> SummarizeFindings(const std::vector<CheckFinding>& findings)
{
    std::vector<KindSummary> summary;
    for (const Kind kind : FindingKinds()) {
        KindSummary line{kind};
        std::set<std::string_view> pages;
        for (const CheckFinding& f : findings)
            if (f.kind == kind) {
                ++line.findings;
                pages.insert(f.page);
            }
        line.pages = pages.size();
        if (line.findings)
            summary.push_back(line);
    }
    return summary;
}

CheckReport CheckSite(const ProjectSettingsRecord& settings, unsigned threads, const CheckControl& control)
{
    return Checker(settings, threads, control).Run();
}

} // namespace qv
