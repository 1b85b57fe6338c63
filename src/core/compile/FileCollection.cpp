#include "quorvane/compile/FileCollection.h"
#include "quorvane/base/Text.h"

#include "quorvane/base/Error.h"
#include "quorvane/base/Utf8.h"
#include "quorvane/platform/CodePage.h"
#include "quorvane/platform/FileSystem.h"
#include "quorvane/platform/Wildcard.h"
#include "quorvane/viewercore/SearchSchema.h"

#include <algorithm>
#include <unordered_set>

namespace qv {
namespace {

const char* const kFixedExclusions = "*.qp;*.qpf;";

// The single-byte code pages of Windows, which QUORVANE_ANSI_CODEPAGE may name.
constexpr int kSingleByteCodePages[] = {1252, 1250, 1251, 1253, 1254, 1255, 1256, 1257, 1258, 874};

void EndWithSemicolon(ShortString& mask)
{
    if (mask.empty() || mask.str().back() != ';')
        mask.Append(";");
}

bool Unstorable(const std::string& name)
{
    return name.find_first_of("\\:") != std::string::npos;
}

struct Walk {
    std::vector<std::string>& list;
    ProjectSettingsRecord& settings;
    CollectListener* listener;
    // The folders from the root down to the one being walked: a folder
    // reached through two paths is packed under both, and only one that is
    // its own ancestor is a loop.
    std::vector<fs::FolderId> ancestors;
    // The uppermost folder on the current path whose name an archive cannot
    // hold; empty while there is none.
    std::string unstorableFolder;
    // What the list held before the walk: never listed again.
    std::unordered_set<std::string> prior;
    // The exclusion pieces, cut once: fixed ones, the output path, the
    // direct masks.
    std::vector<std::string> exclusions;

    // `taken` marks the entries listed already, so that a file two include
    // pieces take is listed once.
    void Matches(const std::string& mask, const std::string& folder, const std::vector<fs::DirEntry>& entries,
                 std::vector<char>& taken);
    void Folder(const std::string& folder, bool isRoot);
};

void Walk::Matches(const std::string& mask, const std::string& folder, const std::vector<fs::DirEntry>& entries,
                   std::vector<char>& taken)
{
    for (size_t at = 0; at < entries.size(); ++at) {
        const fs::DirEntry& e = entries[at];
        if (taken[at] || e.isFolder || !PathMatchSpec(e.name, mask))
            continue;
        const std::string path = folder + e.name;
        if (e.special) {
            // Opening one would wait for a writer or read without end.
            if (listener) listener->Excluded(path, std::string("not a regular file (") + e.special + ")");
            continue;
        }
        if (e.name.front() == '.') {
            if (listener) listener->Excluded(path, "name begins with \".\"");
            continue;
        }
        if (prior.count(path))
            continue;
        // Cut when the first file gets this far, which is also when the
        // direct mask gains its closing semicolon.
        if (exclusions.empty()) {
            EndWithSemicolon(settings.DirectMask);
            exclusions = CutMaskList(kFixedExclusions + settings.OutputPath.str() + ";" + settings.DirectMask.str());
        }
        std::string rule;
        const std::vector<std::string>& pieces = exclusions;
        for (size_t i = 0; i < pieces.size() && rule.empty(); ++i) {
            if (!PathMatchSpec(e.name, pieces[i]))
                continue;
            if (i < 2)
                rule = "fixed exclusion " + pieces[i];
            else if (i == 2)
                rule = "output path";
            else
                rule = "direct mask " + pieces[i];
        }
        if (!rule.empty()) {
            if (listener) listener->Excluded(path, rule);
            continue;
        }
        if (Unstorable(e.name))
            throw UnstorableName("The file name cannot be stored in an archive (it holds \"\\\" or \":\"): " + path);
        if (!unstorableFolder.empty())
            throw UnstorableName("The folder name cannot be stored in an archive (it holds \"\\\" or \":\"): " +
                                 unstorableFolder);
        list.push_back(path);
        taken[at] = 1;
        if (listener) listener->Included(path, mask);
    }
}

void Walk::Folder(const std::string& folder, bool isRoot)
{
    if (settings.IncludeMask.empty())
        return;
    EndWithSemicolon(settings.IncludeMask);

    fs::FolderId id;
    const bool identified = fs::GetFolderId(folder, id);
    if (identified && std::find(ancestors.begin(), ancestors.end(), id) != ancestors.end()) {
        if (listener) listener->Excluded(folder, "loop: a link back to a folder above it");
        return;
    }

    std::vector<fs::DirEntry> entries;
    try {
        entries = fs::ListFolder(folder);
    } catch (const OsError&) {
        if (isRoot)
            throw;
        if (listener) listener->Excluded(folder, "folder cannot be read");
        return;
    }
    if (identified)
        ancestors.push_back(id);

    std::vector<char> taken(entries.size());
    for (const std::string& piece : CutMaskList(settings.IncludeMask.str()))
        Matches(piece, folder, entries, taken);

    if (listener) {
        for (size_t at = 0; at < entries.size(); ++at)
            if (const fs::DirEntry& e = entries[at];
                !e.isFolder && e.name.front() != '.' && !taken[at] && !prior.count(folder + e.name)) {
                bool decided = false;
                for (const std::string& piece : CutMaskList(settings.IncludeMask.str()))
                    decided = decided || PathMatchSpec(e.name, piece);
                if (!decided)
                    listener->Excluded(folder + e.name, "no include mask matches");
            }
    }

    for (const fs::DirEntry& e : entries) {
        if (!e.isFolder)
            continue;
        const std::string sub = folder + e.name + "/";
        if (e.name.front() == '.') {
            if (listener) listener->Excluded(sub, "folder name begins with \".\"");
            continue;
        }
        if (AsciiUpper(e.name).find("RECYCLED") != std::string::npos) {
            if (listener) listener->Excluded(sub, "folder name contains \"RECYCLED\"");
            continue;
        }
        // Only a file that would be packed under it fails the walk.
        const bool firstUnstorable = unstorableFolder.empty() && Unstorable(e.name);
        if (firstUnstorable)
            unstorableFolder = sub;
        Folder(sub, false);
        if (firstUnstorable)
            unstorableFolder.clear();
    }
    if (identified)
        ancestors.pop_back();
}

} // namespace

void CollectFiles(std::vector<std::string>& list, ProjectSettingsRecord& settings, const std::string& root,
                  CollectListener* listener)
{
    std::string folder = root;
    if (folder.empty() || folder.back() != '/')
        folder += '/';
    const size_t before = list.size();
    Walk walk{list, settings, listener, {}, {}, {list.begin(), list.end()}, {}};
    walk.Folder(folder, true);
    // The search index's entry: a site file of that name in the root would
    // pass for an index, or stand in its way.
    for (size_t i = before; i < list.size(); ++i) {
        const std::string_view name = std::string_view(list[i]).substr(folder.size());
        if (list[i].rfind(folder, 0) == 0 && EqualAsciiNoCase(name, search_schema::kEntryName))
            throw UnstorableName("The file name \"" + std::string(name) +
                                 "\" is reserved for the output's search index; rename the file or leave it out: " +
                                 list[i]);
    }
}

std::vector<ForeignName> NamesOutsideCodePage(const std::vector<std::string>& list, const std::string& root)
{
    const int codePage = codepage::AnsiCodePage();
    std::vector<ForeignName> foreign;
    for (const std::string& path : list) {
        const std::string_view rel = std::string_view(path).substr(path.rfind(root, 0) == 0 ? root.size() : 0);
        const std::u32string text = DecodeUtf8(rel);
        ForeignName name{path, {}, 0};
        if (EncodeUtf8(text) != rel) {
            name.reason = "the name is not UTF-8";
            foreign.push_back(std::move(name));
            continue;
        }
        std::u32string missing;
        for (const char32_t c : text)
            if (!codepage::CodePageHolds(codePage, c) && missing.find(c) == std::u32string::npos)
                missing += c;
        if (missing.empty())
            continue;
        for (size_t i = 0; i < missing.size(); ++i)
            name.reason += (i == 0 ? "'" : i + 1 == missing.size() ? " and '" : ", '") +
                           EncodeUtf8(missing.substr(i, 1)) + "'";
        name.reason += (missing.size() == 1 ? " is not in code page " : " are not in code page ") +
                       std::to_string(codePage);
        for (const int other : kSingleByteCodePages)
            if (other != codePage && std::all_of(text.begin(), text.end(),
                                                 [&](char32_t c) { return codepage::CodePageHolds(other, c); })) {
                name.holdingCodePage = other;
                break;
            }
        foreign.push_back(std::move(name));
    }
    return foreign;
}

std::string ForeignNameText(const ForeignName& name)
{
    if (!name.holdingCodePage)
        return name.reason;
    const std::string other = std::to_string(name.holdingCodePage);
    return name.reason + "; code page " + other + " holds it (QUORVANE_ANSI_CODEPAGE=" + other + ")";
}

std::string ForeignNamesMessage(const std::vector<ForeignName>& names, const std::string& root)
{
    std::string m = "An archive in code page " + std::to_string(codepage::AnsiCodePage()) +
                    " cannot hold the names of these files; rename them or leave them out:";
    for (const ForeignName& name : names)
        m += "\r\n" + (name.path.rfind(root, 0) == 0 ? name.path.substr(root.size()) : name.path) + " (" +
             ForeignNameText(name) + ")";
    return m;
}

void CollectMatches(std::vector<std::string>& list, const std::string& mask, ProjectSettingsRecord& settings,
                    const std::string& folder, CollectListener* listener)
{
    std::string f = folder;
    if (f.empty() || f.back() != '/')
        f += '/';
    Walk walk{list, settings, listener, {}, {}, {list.begin(), list.end()}, {}};
    const std::vector<fs::DirEntry> entries = fs::ListFolder(f);
    std::vector<char> taken(entries.size());
    walk.Matches(mask, f, entries, taken);
}

} // namespace qv
