#include "quorvane/update/ProgramVersion.h"
#include "quorvane/base/LittleEndian.h"
#include "quorvane/base/PathParts.h"
#include "quorvane/base/Text.h"

#include "quorvane/update/VersionRecord.h"

#include <cstdio>

namespace qv {

namespace {

template <typename Map>
auto FindText(const Map& map, std::string_view key)
{
    for (auto it = map.begin(); it != map.end(); ++it)
        if (EqualAsciiNoCase(it->first, key))
            return it;
    return map.end();
}

std::string JoinedDigits(const VersionRecord::Translation& t)
{
    char digits[9];
    std::snprintf(digits, sizeof digits, "%04X%04X", unsigned(t.language), unsigned(t.codePage));
    return digits;
}

} // namespace

const VersionRecord& OwnVersionRecord()
{
    static const VersionRecord record = [] {
        VersionRecord r;
        VersionRecord::Translation t{own_version::kLanguage, own_version::kCodePage};
        r.translations.push_back(t);
        auto& table = r.stringTables[JoinedDigits(t)];
        for (const auto& text : own_version::kTexts)
            table[text.name] = text.value;
        return r;
    }();
    return record;
}

std::optional<std::string> QueryVersionValue(const VersionRecord& record, std::string_view subBlock)
{
    const auto parts = SplitPath(subBlock, separators::kBackslash, EmptyParts::Drop);
    if (parts.size() == 2 && EqualAsciiNoCase(parts[0], "VarFileInfo") && EqualAsciiNoCase(parts[1], "Translation")) {
        if (record.translations.empty())
            return std::nullopt;
        std::string bytes;
        for (const auto& t : record.translations) {
            AppendLE(bytes, t.language);
            AppendLE(bytes, t.codePage);
        }
        return bytes;
    }
    if (parts.size() == 3 && EqualAsciiNoCase(parts[0], "StringFileInfo")) {
        auto table = FindText(record.stringTables, parts[1]);
        if (table == record.stringTables.end())
            return std::nullopt;
        auto text = FindText(table->second, parts[2]);
        if (text == table->second.end())
            return std::nullopt;
        return text->second;
    }
    return std::nullopt;
}

bool ReadVersionInfo(std::string& FileVersion, std::string& ProductName, std::string& FileDescription,
                     const VersionRecord* record)
{
    FileVersion.clear();
    ProductName.clear();
    FileDescription.clear();
    if (!record)
        return false;
    // Without a translation table no string table can be named, so nothing
    // of the record is readable.
    const auto translation = QueryVersionValue(*record, "\\VarFileInfo\\Translation");
    if (!translation || translation->size() < 4)
        return false;
    LeReader pair({reinterpret_cast<const uint8_t*>(translation->data()), translation->size()});
    const uint16_t language = pair.Read<uint16_t>();
    const std::string digits = JoinedDigits({language, pair.Read<uint16_t>()});
    auto lookUp = [&](const char* name, std::string& text) {
        if (auto value = QueryVersionValue(*record, "StringFileInfo\\" + digits + "\\" + name))
            text = *value;
    };
    lookUp("FileVersion", FileVersion);
    lookUp("ProductName", ProductName);
    lookUp("FileDescription", FileDescription);
    return true;
}

} // namespace qv
