#include "quorvane/project/ProjectFile.h"
#include "quorvane/base/Text.h"

#include "quorvane/base/Error.h"
#include "quorvane/base/PathParts.h"
#include "quorvane/platform/FileSystem.h"

#include <pugixml.hpp>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <sstream>
#include <vector>

namespace qv {
namespace {

// Days since 30 December 1899 <-> civil dates (proleptic Gregorian).
int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d)
{
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const auto yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

void CivilFromDays(int64_t z, int64_t& y, unsigned& m, unsigned& d)
{
    z += 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const auto doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    y = static_cast<int64_t>(yoe) + era * 400;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    d = doy - (153 * mp + 2) / 5 + 1;
    m = mp < 10 ? mp + 3 : mp - 9;
    y += m <= 2;
}

const int64_t kEpochOffset = DaysFromCivil(1899, 12, 30); // relative to 1970-01-01

bool ParseInt(const std::string& text, int32_t& value)
{
    const std::string t = TrimControls(text);
    const char* b = t.data();
    const char* e = t.data() + t.size();
    if (b != e && *b == '+') ++b;
    if (b == e)
        return false;
    const auto r = std::from_chars(b, e, value);
    return r.ec == std::errc() && r.ptr == e;
}

bool ParseFlag(const std::string& text, bool& value)
{
    const std::string lower = AsciiLower(TrimControls(text));
    if (lower == "true") { value = true; return true; }
    if (lower == "false") { value = false; return true; }
    int32_t n;
    if (!ParseInt(lower, n)) {
        // Integers beyond 32 bits are still integers: on unless zero.
        const char* b = lower.data();
        if (!lower.empty() && (*b == '-' || *b == '+')) ++b;
        if (b == lower.data() + lower.size()) return false;
        for (const char* p = b; p != lower.data() + lower.size(); ++p)
            if (*p < '0' || *p > '9') return false;
        value = lower.find_first_not_of("+-0") != std::string::npos;
        return true;
    }
    value = n != 0;
    return true;
}

// Splits a path written with either separator into its drive ("C:",
// "\\server\share", "/" or empty for a relative path) and its folders.
struct DriveAndParts {
    std::string drive;
    std::vector<std::string> parts;
    bool endsWithSeparator = false; // a folder's path: no file name after the last part
};

DriveAndParts Split(const std::string& path)
{
    std::string p = path;
    std::replace(p.begin(), p.end(), '\\', '/');
    DriveAndParts out;
    size_t pos = 0;
    if (p.size() >= 2 && p[1] == ':' && std::isalpha(static_cast<unsigned char>(p[0]))) {
        out.drive = p.substr(0, 2);
        pos = 2;
    } else if (p.rfind("//", 0) == 0) {
        // "//server/share"; empty names between separators are skipped, so
        // that a drive written out reads back as the same drive.
        out.drive = "//";
        pos = 2;
        for (int name = 0; name < 2; ++name) {
            while (pos < p.size() && p[pos] == '/')
                ++pos;
            if (pos == p.size())
                break;
            const size_t end = std::min(p.find('/', pos), p.size());
            out.drive += (name == 0 ? "" : "/") + p.substr(pos, end - pos);
            pos = end;
        }
    } else if (!p.empty() && p[0] == '/') {
        out.drive = "/";
    }
    out.endsWithSeparator = !p.empty() && p.back() == '/';
    out.parts = SplitPath(std::string_view(path).substr(pos), separators::kEitherSlash, EmptyParts::Drop);
    return out;
}

struct Failure {};

pugi::xml_node Required(const pugi::xml_node& root, const char* name)
{
    pugi::xml_node n = root.child(name);
    if (!n) throw Failure{};
    return n;
}

std::string Text(const pugi::xml_node& element, const char* attr)
{
    return element.attribute(attr).value();
}

int32_t RequiredInt(const pugi::xml_node& element, const char* attr)
{
    const pugi::xml_attribute a = element.attribute(attr);
    int32_t v;
    if (!a || !ParseInt(a.value(), v)) throw Failure{};
    return v;
}

bool RequiredFlag(const pugi::xml_node& element, const char* attr)
{
    const pugi::xml_attribute a = element.attribute(attr);
    bool v;
    if (!a || !ParseFlag(a.value(), v)) throw Failure{};
    return v;
}

void OptionalFlag(const pugi::xml_node& element, const char* attr, bool& field)
{
    const pugi::xml_attribute a = element.attribute(attr);
    if (!a) return;
    bool v;
    if (!ParseFlag(a.value(), v)) throw Failure{};
    field = v;
}

} // namespace

std::string FormatProjectDate(double date)
{
    int64_t y;
    unsigned m, d;
    CivilFromDays(static_cast<int64_t>(std::floor(date)) + kEpochOffset, y, m, d);
    return std::to_string(m) + "/" + std::to_string(d) + "/" + std::to_string(y);
}

bool ParseProjectDate(const std::string& text, double& date)
{
    std::vector<int32_t> numbers;
    std::string current;
    const std::string t = TrimControls(text);
    for (size_t i = 0; i <= t.size(); ++i) {
        if (i == t.size() || t[i] == '/' || t[i] == '-' || t[i] == '.') {
            int32_t v;
            if (!ParseInt(current, v)) return false;
            numbers.push_back(v);
            current.clear();
        } else {
            current += t[i];
        }
    }
    if (numbers.size() != 3) return false;
    int32_t month = numbers[0], day = numbers[1], year = numbers[2];
    if (year >= 0 && year < 100) year += year < 50 ? 2000 : 1900; // a two-digit year
    static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (month < 1 || month > 12 || year < 1 || year > 9999) return false;
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    const int maxDay = kDays[month - 1] + (month == 2 && leap ? 1 : 0);
    if (day < 1 || day > maxDay) return false;
    date = static_cast<double>(DaysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day)) - kEpochOffset);
    return true;
}

std::string RelativePathForProject(const std::string& projectFolder, const std::string& path)
{
    if (path.empty())
        return path;
    const DriveAndParts f = Split(projectFolder);
    const DriveAndParts p = Split(path);
    if (p.drive.empty() || !EqualAsciiNoCase(f.drive, p.drive))
        return path;
    // The path's folders are all parts but its file name, which a path
    // ending with a separator does not have.
    const bool named = !p.parts.empty() && !p.endsWithSeparator;
    const size_t folders = named ? p.parts.size() - 1 : p.parts.size();
    size_t common = 0;
    while (common < f.parts.size() && common < folders && EqualAsciiNoCase(f.parts[common], p.parts[common]))
        ++common;
    std::string out;
    for (size_t i = common; i < f.parts.size(); ++i)
        out += "..\\";
    for (size_t i = common; i < folders; ++i)
        out += p.parts[i] + "\\";
    if (named)
        out += p.parts.back();
    // The project's own folder: an empty path would read back as no path.
    return out.empty() ? ".\\" : out;
}

std::string AbsolutePathFromProject(const std::string& projectFolder, const std::string& text)
{
    if (text.empty())
        return text;
    DriveAndParts p = Split(text);
    const bool windowsDrive = p.drive.size() == 2 || p.drive.rfind("//", 0) == 0;
    std::vector<std::string> parts;
    std::string drive = p.drive;
    if (drive.empty()) {
        const DriveAndParts f = Split(projectFolder);
        drive = f.drive;
        parts = f.parts;
    }
    for (const std::string& part : p.parts) {
        if (part == ".")
            continue;
        if (part == "..") {
            if (!parts.empty()) parts.pop_back();
            continue;
        }
        parts.push_back(part);
    }
    // A path on a drive letter or share keeps Windows separators; ours gets "/".
    const char sep = windowsDrive ? '\\' : '/';
    std::string out = drive == "/" ? "" : drive;
    std::replace(out.begin(), out.end(), '/', '\\');
    for (const std::string& part : parts)
        out += sep + part;
    if (parts.empty() || p.endsWithSeparator)
        out += sep;
    return out;
}

bool SaveProject(const std::string& path, const ProjectSettingsRecord& s,
                 const std::function<void(const std::string&)>& showMessage)
{
    const std::string folder = fs::FolderOf(fs::AbsolutePath(path));
    pugi::xml_document doc;
    pugi::xml_node root = doc.append_child("QVProject");
    root.append_attribute("Version") = "2";
    auto element = [&](const char* name) { return root.append_child(name); };
    auto flag = [](bool v) { return v ? "1" : "0"; };
    auto number = [](int32_t v) { return std::to_string(v); };
    // A path is read back cut to the short string before it is resolved, so
    // a relative form longer than the path itself ("..\..\" added) would
    // come back cut: such a path is written as it is.
    auto rel = [&](const ShortString& p) {
        std::string relative = RelativePathForProject(folder, p.str());
        return ShortString(relative).str() == relative ? relative : p.str();
    };

    element("homepage").append_attribute("path") = rel(s.HomePage).c_str();
    pugi::xml_node output = element("output");
    output.append_attribute("path") = rel(s.OutputPath).c_str();
    output.append_attribute("type") = flag(s.OutputIsExe);
    element("border").append_attribute("type") = number(s.BorderType).c_str();
    pugi::xml_node view = element("view");
    view.append_attribute("width") = number(s.ViewWidth).c_str();
    view.append_attribute("height") = number(s.ViewHeight).c_str();
    view.append_attribute("centered") = flag(s.Centered);
    view.append_attribute("shadow") = flag(s.Shadow);
    view.append_attribute("cursor") = flag(s.CursorOption);
    view.append_attribute("scrollbars") = flag(s.HideScrollbars);
    element("logo").append_attribute("path") = rel(s.LogoPath).c_str();
    pugi::xml_node toolbar = element("toolbar");
    toolbar.append_attribute("enabled") = flag(s.ShowToolbar);
    toolbar.append_attribute("captions") = flag(s.ShowCaptions);
    element("copy").append_attribute("enabled") = flag(s.EnableCopy);
    element("search").append_attribute("enabled") = flag(s.EnableSearch);
    element("print").append_attribute("enabled") = flag(s.EnablePrint);
    element("font").append_attribute("enabled") = flag(s.EnableFont);
    element("statusbar").append_attribute("enabled") = flag(s.ShowStatusbar);
    element("pass").append_attribute("word") = s.Password.str().c_str();
    pugi::xml_node expiry = element("expiried");
    expiry.append_attribute("enabled") = flag(s.ExpiryEnabled);
    expiry.append_attribute("date") = FormatProjectDate(s.ExpiryDate).c_str();
    element("include").append_attribute("mask") = s.IncludeMask.str().c_str();
    element("direct").append_attribute("mask") = s.DirectMask.str().c_str();
    element("browser").append_attribute("useragent") = s.UserAgent.str().c_str();
    element("compression").append_attribute("level") = number(s.CompressionLevel).c_str();
    element("contextmenu").append_attribute("enabled") = flag(s.ContextMenu);
    // Written only when on: a project without an index keeps its bytes.
    if (s.SearchIndex)
        element("searchindex").append_attribute("enabled") = flag(true);

    std::ostringstream text;
    doc.save(text, "  ", pugi::format_default, pugi::encoding_utf8);
    try {
        fs::WriteFileAtomic(path, text.str());
    } catch (const Error&) {
        if (showMessage)
            showMessage("Could not save project file:\r\n" + fs::AbsolutePath(path));
        return false;
    }
    return true;
}

void LoadProject(const std::string& path, ProjectSettingsRecord& settings)
{
    if (!fs::FileExists(path))
        return;
    const std::string folder = fs::FolderOf(fs::AbsolutePath(path));
    ProjectSettingsRecord s = settings;
    try {
        pugi::xml_document doc;
        if (!doc.load_file(path.c_str(), pugi::parse_default, pugi::encoding_auto))
            throw Failure{};
        const pugi::xml_node root = doc.child("QVProject");
        if (!root) throw Failure{};
        auto pathOf = [&](const char* element, const char* attr) {
            // Cut to the short string first, then made absolute, then cut again.
            const ShortString raw = Text(Required(root, element), attr);
            return ShortString(AbsolutePathFromProject(folder, raw.str()));
        };
        s.HomePage = pathOf("homepage", "path");
        const pugi::xml_node output = Required(root, "output");
        s.OutputIsExe = RequiredFlag(output, "type");
        s.OutputPath = pathOf("output", "path");
        s.BorderType = RequiredInt(Required(root, "border"), "type");
        const pugi::xml_node view = Required(root, "view");
        s.ViewWidth = RequiredInt(view, "width");
        s.ViewHeight = RequiredInt(view, "height");
        s.Centered = RequiredFlag(view, "centered");
        OptionalFlag(view, "shadow", s.Shadow);
        OptionalFlag(view, "scrollbars", s.HideScrollbars);
        OptionalFlag(view, "cursor", s.CursorOption);
        s.LogoPath = pathOf("logo", "path");
        const pugi::xml_node toolbar = Required(root, "toolbar");
        s.ShowToolbar = RequiredFlag(toolbar, "enabled");
        s.ShowCaptions = RequiredFlag(toolbar, "captions");
        s.ShowStatusbar = RequiredFlag(Required(root, "statusbar"), "enabled");
        s.EnableCopy = RequiredFlag(Required(root, "copy"), "enabled");
        s.EnableSearch = RequiredFlag(Required(root, "search"), "enabled");
        s.EnablePrint = RequiredFlag(Required(root, "print"), "enabled");
        s.EnableFont = RequiredFlag(Required(root, "font"), "enabled");
        s.Password = Text(Required(root, "pass"), "word");
        const pugi::xml_node expiry = Required(root, "expiried");
        s.ExpiryEnabled = RequiredFlag(expiry, "enabled");
        const pugi::xml_attribute date = expiry.attribute("date");
        if (!date || !ParseProjectDate(date.value(), s.ExpiryDate)) throw Failure{};
        s.IncludeMask = Text(Required(root, "include"), "mask");
        s.DirectMask = Text(Required(root, "direct"), "mask");
        s.UserAgent = Text(Required(root, "browser"), "useragent");
        s.CompressionLevel = RequiredInt(Required(root, "compression"), "level");
        const pugi::xml_node menu = root.child("contextmenu");
        s.ContextMenu = menu ? RequiredFlag(menu, "enabled") : true;
        const pugi::xml_node index = root.child("searchindex");
        s.SearchIndex = index ? RequiredFlag(index, "enabled") : false;
    } catch (const Failure&) {
        throw Error("Could not load project: " + fs::FileNameOf(path) + "\r\nIncompatible project version.");
    }
    settings = s;
}

} // namespace qv
