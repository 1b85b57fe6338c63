#pragma once
// Independent readers of executables for the tests: icoutils' wrestool for
// resources (wine, for whether a file still starts, is in Wine.h).
#include "TestSupport.h"
#include "Wine.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <regex>
#include <stdexcept>
#include <string>
#include <vector>

namespace qvtest {

// Standard output of a shell command; `status` gets its exit status.
inline std::string Capture(const std::string& command, int* status = nullptr)
{
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe)
        throw std::runtime_error("cannot run " + command);
    std::string out;
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0)
        out.append(buffer, n);
    const int rc = pclose(pipe);
    if (status)
        *status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
    return out;
}

inline std::string Quoted(const std::filesystem::path& path)
{
    std::string out = "'";
    for (char c : path.string())
        out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

inline bool HaveTool(const std::string& name)
{
    int status = 0;
    Capture("command -v " + name + " >/dev/null 2>&1", &status);
    return status == 0;
}

struct ListedResource {
    std::string type, name;
    unsigned language;
    size_t size;
    bool typeIsString, nameIsString;
    std::string Key() const { return type + "/" + name + "/" + std::to_string(language); }
};

// What wrestool lists, keyed "type/name/language" (string identifiers
// without their quotes).
inline std::map<std::string, ListedResource> WrestoolList(const std::filesystem::path& exe)
{
    std::map<std::string, ListedResource> out;
    const std::string text = Capture("wrestool -l " + Quoted(exe) + " 2>/dev/null");
    static const std::regex line(R"(--type=('?)([^' ]+)'? --name=('?)([^' ]+)'? --language=(\d+) \[.*size=(\d+)\])");
    for (auto it = std::sregex_iterator(text.begin(), text.end(), line); it != std::sregex_iterator(); ++it) {
        ListedResource r{(*it)[2], (*it)[4], static_cast<unsigned>(std::stoul((*it)[5])), std::stoul((*it)[6]),
                         (*it)[1].length() > 0, (*it)[3].length() > 0};
        out[r.Key()] = r;
    }
    return out;
}

// The bytes of every resource as wrestool extracts them, by the same key.
inline std::map<std::string, std::vector<uint8_t>> WrestoolExtractAll(const std::filesystem::path& exe)
{
    std::map<std::string, std::vector<uint8_t>> out;
    for (const auto& [key, r] : WrestoolList(exe)) {
        const std::string id = std::string(" -t") + (r.typeIsString ? "+" : "-") + r.type + " -n" +
                               (r.nameIsString ? "+" : "-") + r.name + " -L" + std::to_string(r.language);
        const std::string bytes = Capture("wrestool -x --raw" + id + " " + Quoted(exe) + " 2>/dev/null");
        out[key] = std::vector<uint8_t>(bytes.begin(), bytes.end());
    }
    return out;
}

} // namespace qvtest
