#pragma once
#include <cstdint>
#include <span>
#include <string>
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
};

// Every resource, in the order the Windows loader enumerates them: at each
// level named entries first (in directory order), then numeric ones
// ascending. Throws qv::Error naming the problem for malformed input.
std::vector<ResourceEntry> ReadResources(std::span<const uint8_t> image);
std::vector<ResourceEntry> ReadResources(const std::string& path);

// Replaces all resources of the executable with `entries` (string
// identifiers stored upper-case, digit-only names as numbers, the later of
// two equal identities wins). Atomic: the new file is written beside the old
// one and renamed over it; on failure the file is untouched.
void ReplaceResources(const std::string& path, const std::vector<ResourceEntry>& entries);

// The same on bytes in memory: returns the rewritten image.
std::vector<uint8_t> ReplaceResources(std::span<const uint8_t> image, const std::vector<ResourceEntry>& entries);

} // namespace qv::pe
