#pragma once
#include "quorvane/resources/ResourceDetails.h"

#include <memory>
#include <string>
#include <vector>

namespace qv {

// Kept for the message of a platform without resource update functions; the
// resource layer here always has them, so nothing raises it.
inline constexpr const char* kUpdateFunctionsMissing = "Must use Windows NT, 2000 or XP to update resoures";

// Every resource of an executable file, in the order the loader lists them.
//
// LoadFromFile replaces the list with the file's resources; when the file
// cannot be read (qv::Error / qv::OsError from the resource layer) the module
// keeps what it had. SaveToFile replaces every resource of the file with the
// list, in order, atomically: on failure the file keeps its old resources and
// the Dirty flags stay set.
class ExecutableModule final : public ResourceModule {
public:
    ExecutableModule() = default;

    int ResourceCount() const override { return static_cast<int>(Resources.size()); }
    ResourceDetails& GetResourceDetails(int index) const override;
    // Tells the resource it is leaving (which may remove others, e.g. a
    // group's images), then frees it if it is still in the list.
    void RemoveResource(int index) override;
    void InsertResource(int index, std::unique_ptr<ResourceDetails> details) override;
    int AppendResource(std::unique_ptr<ResourceDetails> details) override;
    int IndexOfResource(const ResourceDetails* details) const override;

    void SaveToFile(const std::string& fileName) override;
    void LoadFromFile(const std::string& fileName) override;

private:
    std::vector<std::unique_ptr<ResourceDetails>> Resources;
};

} // namespace qv
