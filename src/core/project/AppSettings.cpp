#include "quorvane/project/AppSettings.h"
#include "quorvane/base/Text.h"

#include "quorvane/base/Convert.h"
#include "quorvane/base/Error.h"
#include "quorvane/platform/AppDataFolder.h"
#include "quorvane/platform/FileSystem.h"

#include <pugixml.hpp>

#include <cstring>
#include <map>
#include <sstream>

namespace qv {
namespace {

// The index of an entry element: "mru" and a decimal number without
// leading zeros, as the writer names them; -1 for every other name.
int EntryIndex(const char* name)
{
    if (std::strncmp(name, "mru", 3) != 0)
        return -1;
    const char* digits = name + 3;
    const size_t length = std::strlen(digits);
    if (length == 0 || length > 9 || (digits[0] == '0' && length > 1))
        return -1;
    int index = 0;
    for (const char* c = digits; *c; ++c) {
        if (*c < '0' || *c > '9')
            return -1;
        index = index * 10 + (*c - '0');
    }
    return index;
}

} // namespace

bool RecentProjects::Add(const std::string& path)
{
    for (const std::string& entry : items_)
        if (EqualAsciiNoCase(entry, path))
            return false;
    if (items_.size() >= kCapacity)
        items_.erase(items_.begin(), items_.begin() + static_cast<long>(items_.size() - kCapacity + 1));
    items_.push_back(path);
    return true;
}

void RecentProjects::Append(const std::string& path)
{
    if (items_.size() < kCapacity)
        items_.push_back(path);
}

std::string GetSettingsFolder()
{
    std::string folder = TrimControls(platform::RoamingAppDataFolder());
    while (folder.size() > 1 && folder.back() == '/')
        folder.pop_back();
    return folder;
}

std::string SettingsFilePath()
{
    return GetSettingsFolder() + "/quorvane.xml";
}

void LoadAppSettings(RecentProjects& recent, const std::string& file)
{
    if (!fs::FileExists(file))
        return;
    pugi::xml_document doc;
    const pugi::xml_parse_result parsed = doc.load_file(file.c_str());
    if (!parsed)
        throw Error("Error reading " + file + ": " + parsed.description() + " at offset " +
                    std::to_string(parsed.offset));
    const pugi::xml_node config = doc.child("Config");
    if (!config)
        return;
    const pugi::xml_node mru = config.child("mru");
    if (!mru)
        return;
    const int n = StrToInt(mru.attribute("number").value());
    // One pass over the elements present, in index order, the first of each
    // name counting: a number far above them costs nothing.
    std::map<int, pugi::xml_node> entries;
    for (const pugi::xml_node child : config.children()) {
        const int index = child.type() == pugi::node_element ? EntryIndex(child.name()) : -1;
        if (index >= 0 && index < n)
            entries.try_emplace(index, child);
    }
    for (const auto& [index, entry] : entries)
        recent.Append(entry.attribute("name").value());
}

void SaveAppSettings(const RecentProjects& recent, const std::string& file)
{
    pugi::xml_document doc;
    pugi::xml_node config = doc.append_child("Config");
    config.append_child("mru").append_attribute("number") = static_cast<int>(recent.Count());
    for (size_t i = 0; i < recent.Count(); ++i)
        config.append_child(("mru" + std::to_string(i)).c_str()).append_attribute("name") = recent[i].c_str();
    std::ostringstream text;
    doc.save(text, "  ", pugi::format_default | pugi::format_no_declaration, pugi::encoding_utf8);
    fs::WriteFileAtomic(file, text.str());
}

} // namespace qv
