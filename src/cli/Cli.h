#pragma once
#include <string>

// The commands of the headless compiler. Each returns the exit status:
// 0 success, 1 the job failed (or was cancelled), 2 usage or input error.
namespace qvc {

struct BuildOptions {
    std::string project;
    bool quiet = false;
    unsigned jobs = 0; // 0: one per core
};

int Build(const BuildOptions& options);
int Files(const std::string& project);
int List(const std::string& file);
int Verify(const std::string& file);
int Extract(const std::string& file, const std::string& folder);
int Config(const std::string& file);
int Resources(const std::string& file);

// The whole program: parses the command line and runs one command.
int Run(int argc, char** argv);

// "quorvanec: <message>" on standard error.
void Complain(const std::string& message);

} // namespace qvc
