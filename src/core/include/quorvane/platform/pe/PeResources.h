#pragma once
#include "quorvane/base/Error.h"

#include <cstdint>
#include <span>
#include <string>
#include <utility>
#include <vector>

// The resource functions of a Windows executable, on the published PE/COFF
// format (PE32 and PE32+). Stands in for LoadLibraryEx/EnumResource* and
// BeginUpdateResource/UpdateResource/EndUpdateResource.
namespace qv::pe {

struct ResourceEntry {
    std::string type;  // a string identifier, or a numeric one as decimal text ("3", "14")
    std::string name;  // likewise
    uint16_t language = 0;
    std::vector<uint8_t> data;

    friend bool operator==(const ResourceEntry&, const ResourceEntry&) = default;
};

// Bytes that are not a well-formed executable, or an executable whose
// layout leaves no way to place new resources. The message names the
// problem and the file offset it was found at; the path-taking functions
// add the file's name.
class FormatError : public Error {
public:
    enum class Kind { Invalid, NotRewritable };
    FormatError(const std::string& message, Kind kind, std::string problem, uint64_t offset)
        : Error(message), kind_(kind), problem_(std::move(problem)), offset_(offset) {}
    Kind kind() const noexcept { return kind_; }
    const std::string& problem() const noexcept { return problem_; }
    uint64_t offset() const noexcept { return offset_; }

private:
    Kind kind_;
    std::string problem_;
    uint64_t offset_;
};

// Every resource, in the order the Windows loader enumerates them: at each
// level named entries first (in directory order), then numeric ones
// ascending. A file without a resource directory has none. Throws
// FormatError naming the problem for malformed input; the path version
// throws OsError when the file cannot be read.
std::vector<ResourceEntry> ReadResources(std::span<const uint8_t> image);
std::vector<ResourceEntry> ReadResources(const std::string& path);

// Replaces all resources of the executable with `entries` (string
// identifiers stored upper-case, digit-only names as numbers, the later of
// two equal identities wins). Atomic: the new file is written beside the old
// one and renamed over it, keeping its permissions; on failure the file is
// untouched. An Authenticode signature cannot survive the change and is
// removed. Throws FormatError for an image that cannot be rewritten or an
// invalid identifier, OsError for a failing file operation.
void ReplaceResources(const std::string& path, const std::vector<ResourceEntry>& entries);

// The same on bytes in memory: returns the rewritten image.
std::vector<uint8_t> ReplaceResources(std::span<const uint8_t> image, const std::vector<ResourceEntry>& entries);

// The list exactly as ReadResources will return it after ReplaceResources
// with `entries`: identifiers normalised, duplicates resolved, loader order.
std::vector<ResourceEntry> CanonicalResources(const std::vector<ResourceEntry>& entries);

} // namespace qv::pe
