#pragma once
#include "quorvane/check/SiteCheck.h"
#include "quorvane/project/ProjectSettings.h"

#include <string>
#include <vector>

// The commands of the headless compiler. Each returns the exit status:
// 0 success, 1 the job failed (or was cancelled), 2 usage or input error.
namespace qvc {

struct BuildOptions {
    std::string project;
    bool quiet = false;
    unsigned jobs = 0; // 0: one per core
    bool search = false;   // --search: index this build whatever the project says
    bool noSearch = false; // --no-search: do not
};

int Build(const BuildOptions& options);
int Files(const std::string& project);
int List(const std::string& file);
int Verify(const std::string& file);
int Extract(const std::string& file, const std::string& folder);
int Config(const std::string& file);
int Resources(const std::string& file);
struct CheckOptions {
    std::string project;
    bool json = false; // the findings as one JSON document
    bool all = false;  // every place, not one line for a reference that breaks alike on many pages
    std::vector<qv::CheckFinding::Kind> only; // these kinds alone; empty: all
};

// Every link of the project's pages that will break in its output; 1 when
// one is found.
int Check(const CheckOptions& options);

struct SearchOptions {
    std::string output;
    std::vector<std::string> words; // as given; joined into query
    std::string query;
    size_t limit = 10;
    bool json = false;
};

// The pages of an output's search index that match `query`, best first:
// 0 with results, 1 with none, 2 for a query with no word to look for, a
// file that is no output, or an output without an index.
int Search(const SearchOptions& options);

// The whole program: parses the command line and runs one command.
int Run(int argc, char** argv);

// "quorvanec: <message>" on standard error, its line breaks kept and every
// other control character escaped as Shown does.
void Complain(const std::string& message);

// `text` safe for a terminal: what the program prints that comes from a
// file or an archive (names, settings, messages quoting them) passes through
// here, so an escape sequence in it is shown ("\x1b[2J"), never obeyed.
std::string Shown(const std::string& text);

// Loads `project` for a command, or complains and returns false.
bool LoadForCommand(const std::string& project, qv::ProjectSettingsRecord& settings);

} // namespace qvc
