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
// folder reached again through a link is not entered twice; a file whose
// name an archive cannot hold ("\" or ":") throws qv::Error naming it.
// Folders that cannot be read are skipped, except the root itself.
void CollectFiles(std::vector<std::string>& list, TProjectSettings& settings, const std::string& root,
                  CollectListener* listener = nullptr);

// The files of one folder that `mask` takes and no exclusion leaves out.
void CollectMatches(std::vector<std::string>& list, const std::string& mask, TProjectSettings& settings,
                    const std::string& folder, CollectListener* listener = nullptr);

} // namespace qv
