#pragma once
#include "quorvane/base/Error.h"
#include "quorvane/project/ProjectSettings.h"

#include <atomic>
#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

// Every link of a site that will break in its output, found before the
// output is built.
namespace qv {

struct CheckFinding {
    enum class Kind {
        Missing,     // the target does not exist (or is a folder)
        NotPacked,   // it exists, but a rule of the collection leaves it out
        LeavesRoot,  // ".." climbs above the root folder
        Absolute,    // file:, a drive letter, or a path starting with a backslash
        Fragment,    // the target page has no such id or name
        HomePage,    // the home page is missing, not packed, or not a page
        CodePage     // the file's name is not in the writer's code page: the build refuses it
    };
    Kind kind = Kind::Missing;
    std::string page;      // relative to the root, "/" between folders
    int line = 0;          // first line it occurs on (0 for the home page)
    std::vector<int> more; // further lines of the same page with the same reference
    std::string reference; // as written
    std::string message;
    // The file it leads to, from the root with "/" between folders; empty
    // when it leads nowhere in the site (absolute, above the root).
    std::string target;
};

// The word tools see for a kind: "missing", "not-packed", "leaves-root",
// "absolute", "fragment", "home-page", "code-page".
const char* KindName(CheckFinding::Kind kind);

// Every kind, in the order a summary lists them.
const std::vector<CheckFinding::Kind>& FindingKinds();

// The kind KindName gives `name` for; false for a word it never gives.
bool KindOfName(std::string_view name, CheckFinding::Kind& kind);

// The findings that break the same way gathered: alike in kind and message,
// and in target (any spelling or fragment) or, without one, in reference.
// Indices into `findings`, each group in report order, the groups in order
// of their first finding.
std::vector<std::vector<size_t>> GroupFindings(const std::vector<CheckFinding>& findings);

// How many findings of one kind, on how many pages.
struct KindSummary {
    CheckFinding::Kind kind;
    size_t findings = 0, pages = 0;
};

// One per kind that occurs, in the order of the kinds.
std::vector<KindSummary> SummarizeFindings(const std::vector<CheckFinding>& findings);

struct CheckReport {
    std::string root;
    size_t pages = 0, stylesheets = 0, references = 0, external = 0;
    // Grouped by page in the order the build packs them, each page's
    // findings in order of line; the home page's come first.
    std::vector<CheckFinding> findings;
};

// For a check that a window shows and may stop.
struct CheckControl {
    // Pages and stylesheets read so far, of how many; called on the
    // check's threads, several at once.
    std::function<void(size_t done, size_t total)> progress;
    // Once set, the check stops reading and throws CheckCancelled.
    const std::atomic<bool>* cancel = nullptr;
};

class CheckCancelled : public Error {
public:
    CheckCancelled() : Error("The check was cancelled") {}
};

// Collects the files as a build of `settings` would (on a copy of them),
// reports each file whose name the writer's code page cannot hold, reads
// every packed page and stylesheet, on `threads` threads (0: one per
// core), and resolves every local reference as the viewers resolve page
// addresses. External references (a scheme other than file:, or "//host")
// are counted, not fetched. Each problem is reported once per page and
// reference, with the lines it occurs on. Throws what the collection
// throws (the root folder cannot be read, a name an archive cannot hold)
// and qv::Error naming a page that cannot be read.
CheckReport CheckSite(const ProjectSettingsRecord& settings, unsigned threads = 0, const CheckControl& control = {});

// The report as one JSON document (UTF-8; invalid bytes become U+FFFD):
// every finding with all its lines, and the summary.
std::string ReportJson(const CheckReport& report);

// `text` as a JSON string literal, quotes included.
std::string JsonString(std::string_view text);

} // namespace qv
