#pragma once
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qv {

// A program's version information: the translation table and one string
// table per translation, keyed by its joined digits (e.g. "040904E4").
// The program's own record is made at build time from the project version.
struct VersionRecord {
    struct Translation {
        uint16_t language = 0;
        uint16_t codePage = 0;
    };
    std::vector<Translation> translations;
    std::map<std::string, std::map<std::string, std::string>> stringTables;
};

// The record of the running program.
const VersionRecord& OwnVersionRecord();

// Looks a value up by its block path, as the version functions of the
// platform do: "\VarFileInfo\Translation" gives the translation table as
// bytes (language and code page, 16 bits each, little-endian, one pair per
// entry), "\StringFileInfo\<digits>\<name>" a text. Path parts compare
// without regard to case; the leading "\" may be left out. Nothing when the
// block does not exist.
std::optional<std::string> QueryVersionValue(const VersionRecord& record, std::string_view subBlock);

// Reads "FileVersion", "ProductName" and "FileDescription" of the first
// translation of `record` (the running program's own unless another is
// given; none stands for a program without version information). False,
// with all three empty, when there is no record or it has no translation
// table; true otherwise, even when texts are missing.
bool ReadVersionInfo(std::string& FileVersion, std::string& ProductName, std::string& FileDescription,
                     const VersionRecord* record = &OwnVersionRecord());

} // namespace qv
