#include "quorvane/build/FileCollection.h"
#include "quorvane/base/Text.h"

#include "quorvane/base/Error.h"
#include "quorvane/platform/FileSystem.h"
#include "quorvane/platform/Wildcard.h"

#include <algorithm>
#include <unordered_set>

namespace qv {
namespace {

const char* const kFixedExclusions = "*.qp;*.qpf;";

void EndWithSemicolon(ShortString& mask)
{
    if (mask.empty() || mask.str().back() != ';')
        mask.Append(";");
}

struct Walk {
    std::vector<std::string>& list;
    TProjectSettings& settings;
    CollectListener* listener;
    std::vector<fs::FolderId> visited;
    // Keeps a file that two include pieces take from being listed twice.
    std::unordered_set<std::string> listed;

    void Matches(const std::string& mask, const std::string& folder, const std::vector<fs::DirEntry>& entries);
    void Folder(const std::string& folder, bool isRoot);
};

void Walk::Matches(const std::string& mask, const std::string& folder, const std::vector<fs::DirEntry>& entries)
{
    for (const fs::DirEntry& e : entries) {
        if (e.isFolder || !PathMatchSpec(e.name, mask))
            continue;
        const std::string path = folder + e.name;
        if (e.name.front() == '.') {
            if (listener) listener->Excluded(path, "name begins with \".\"");
            continue;
        }
        if (listed.count(path))
            continue;
        EndWithSemicolon(settings.DirectMask);
        const std::string exclusions = kFixedExclusions + settings.OutputPath.str() + ";" + settings.DirectMask.str();
        std::string rule;
        const auto pieces = CutMaskList(exclusions);
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
        if (e.name.find_first_of("\\:") != std::string::npos)
            throw UnstorableName("The file name cannot be stored in an archive (it holds \"\\\" or \":\"): " + path);
        list.push_back(path);
        listed.insert(path);
        if (listener) listener->Included(path, mask);
    }
}

void Walk::Folder(const std::string& folder, bool isRoot)
{
    if (settings.IncludeMask.empty())
        return;
    EndWithSemicolon(settings.IncludeMask);

    fs::FolderId id;
    if (fs::GetFolderId(folder, id)) {
        if (std::find(visited.begin(), visited.end(), id) != visited.end())
            return;
        visited.push_back(id);
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

    for (const std::string& piece : CutMaskList(settings.IncludeMask.str()))
        Matches(piece, folder, entries);

    if (listener) {
        for (const fs::DirEntry& e : entries)
            if (!e.isFolder && e.name.front() != '.' && !listed.count(folder + e.name)) {
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
        Folder(sub, false);
    }
}

} // namespace

void CollectFiles(std::vector<std::string>& list, TProjectSettings& settings, const std::string& root,
                  CollectListener* listener)
{
    std::string folder = root;
    if (folder.empty() || folder.back() != '/')
        folder += '/';
    Walk walk{list, settings, listener, {}, {list.begin(), list.end()}};
    walk.Folder(folder, true);
}

void CollectMatches(std::vector<std::string>& list, const std::string& mask, TProjectSettings& settings,
                    const std::string& folder, CollectListener* listener)
{
    std::string f = folder;
    if (f.empty() || f.back() != '/')
        f += '/';
    Walk walk{list, settings, listener, {}, {list.begin(), list.end()}};
    walk.Matches(mask, f, fs::ListFolder(f));
}

} // namespace qv
