#pragma once
#include <string>
#include <string_view>
#include <vector>

// The one place paths are taken apart. Portable: the Windows viewer compiles
// it too. Paths reach us written with different separators, and each caller
// names the set its paths use, so the differences stay visible.
namespace qv {

namespace separators {
// Paths of the file system we run on.
inline constexpr std::string_view kSlash = "/";
// Query paths of version information ("\StringFileInfo\040904E4\...").
inline constexpr std::string_view kBackslash = "\\";
// Names written on either system: archive names, project paths, arguments.
inline constexpr std::string_view kEitherSlash = "/\\";
// As kEitherSlash, and a drive ("C:name") ends the folder part too.
inline constexpr std::string_view kEitherSlashOrDrive = "/\\:";
// Entry names as the archive writer stores them: "\" between folders, and
// a drive colon kept in the folder part.
inline constexpr std::string_view kArchiveFolder = "\\:";
} // namespace separators

enum class EmptyParts { Keep, Drop };

// The parts of `path` between any of `separators`: "\a\\b\" gives "", "a",
// "", "b", "" when empty parts are kept, and "a", "b" when they are dropped.
std::vector<std::string> SplitPath(std::string_view path, std::string_view separators, EmptyParts empty);

// `path` cut after its last separator: the folder part (ending with that
// separator, empty when there is none) and the name after it.
struct PathCut {
    std::string_view folder;
    std::string_view name;
};
PathCut CutAtLastSeparator(std::string_view path, std::string_view separators);

} // namespace qv
