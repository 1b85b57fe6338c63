#pragma once
#include <string>
#include <vector>

namespace qv {

// The recent projects, oldest first, at most five.
class RecentProjects {
public:
    static constexpr size_t kCapacity = 5;

    const std::vector<std::string>& Items() const { return items_; }
    size_t Count() const { return items_.size(); }
    bool Empty() const { return items_.empty(); }
    const std::string& operator[](size_t i) const { return items_.at(i); }

    // The add rule: nothing when an entry equals `path` ignoring the case of
    // A-Z; otherwise the oldest goes when five are held and `path` becomes
    // the newest. Returns whether the list changed.
    bool Add(const std::string& path);
    // As read from the settings file; a hand-edited file with more than five
    // entries keeps only the first five.
    void Append(const std::string& path);
    void Clear() { items_.clear(); }

private:
    std::vector<std::string> items_;
};

// The roaming application-data folder, without a trailing "/":
// $XDG_CONFIG_HOME, else ~/.config, blanks and control characters trimmed.
std::string GetSettingsFolder();
std::string SettingsFilePath(); // GetSettingsFolder() + "/quorvane.xml"

// Appends the entries of the settings file to `recent`. A missing file, or
// one whose root is not Config, adds nothing; a file that cannot be parsed
// or whose mru number is not an integer throws qv::Error.
void LoadAppSettings(RecentProjects& recent, const std::string& file = SettingsFilePath());
// Writes `recent`, replacing the file atomically; throws qv::Error.
void SaveAppSettings(const RecentProjects& recent, const std::string& file = SettingsFilePath());

} // namespace qv
