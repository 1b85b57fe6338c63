#pragma once
#include "quorvane/base/Error.h"
#include "quorvane/platform/Wildcard.h"
#include "quorvane/project/ProjectSettings.h"

#include <string>
#include <vector>

namespace qv {

// A file whose name an archive cannot represent; the build reports it as it
// stands instead of as a failed scan.
class UnstorableName : public Error {
public:
    using Error::Error;
};

// Told about every decision of a walk, for the dry run that explains why a
// file was or was not packed. The build passes none.
class CollectListener {
public:
    virtual ~CollectListener() = default;
    virtual void Included(const std::string& path, const std::string& piece) = 0;
    virtual void Excluded(const std::string& path, const std::string& rule) = 0;
};

// Appends the files under `root` (a folder path ending with "/") that the
// include masks take and no exclusion leaves out: each folder's own files
// grouped by include piece, then its subfolders depth first, entries in the
// order of fs::ListFolder. Normalises the masks of `settings` (the job's
// copy) as it goes. A file matched by several pieces is listed once; a
// folder reached through two paths is walked under both, while a link back
// to a folder above it (a loop) is not entered; only regular files (and
// links to them) are listed, never named pipes, sockets or devices. A file
// to be listed whose name, or the name of a folder above it, an archive
// cannot hold ("\" or ":") throws UnstorableName naming that file or
// folder. A file named "-search-" in the root (A-Z case ignored) throws
// UnstorableName too: that entry is the output's search index. Folders that
// cannot be read are skipped, except the root itself.
// The listener hears every decision, loops and special files included.
void CollectFiles(std::vector<std::string>& list, ProjectSettingsRecord& settings, const std::string& root,
                  CollectListener* listener = nullptr);

// A file to be packed whose name the writer's code page cannot hold: the
// archive would keep it with "?" for some characters, and the build could
// never find its entry again.
struct ForeignName {
    std::string path;        // as listed
    std::string reason;      // "'ž' is not in code page 1252"
    int holdingCodePage = 0; // another supported single-byte code page that holds the name; 0 when none does
};

// The files of `list` whose names below `root` (folders included) the
// writer's code page cannot hold, in list order.
std::vector<ForeignName> NamesOutsideCodePage(const std::vector<std::string>& list, const std::string& root);

// The reason, with the code page that would hold the name and the setting
// that chooses it.
std::string ForeignNameText(const ForeignName& name);

// What a build that meets such names fails with: every one of them.
std::string ForeignNamesMessage(const std::vector<ForeignName>& names, const std::string& root);

// The files of one folder that `mask` takes and no exclusion leaves out.
void CollectMatches(std::vector<std::string>& list, const std::string& mask, ProjectSettingsRecord& settings,
                    const std::string& folder, CollectListener* listener = nullptr);

} // namespace qv
