#include "Cli.h"

#include "quorvane/archive/ArchiveFile.h"
#include "quorvane/archive/ArchivePaths.h"
#include "quorvane/base/Error.h"
#include "quorvane/base/PathParts.h"
#include "quorvane/project/ProjectFile.h"
#include "quorvane/project/ProjectSettings.h"
#include "quorvane/viewercore/ViewerSettings.h"
#include "quorvane/platform/CodePage.h"
#include "quorvane/platform/FileSystem.h"
#include "quorvane/platform/pe/PeResources.h"

#include <cstdio>
#include <filesystem>
#include <map>

namespace qvc {
namespace {

const char* KindText(uint8_t storage)
{
    switch (storage) {
    case 0: return "deflated";
    case 1: return "stored";
    case 2: return "encrypted deflated";
    case 3: return "encrypted";
    default: return "unknown";
    }
}

template <typename F>
int WithArchive(const std::string& file, F&& work)
{
    try {
        qv::ArchiveFile archive(file);
        return work(archive);
    } catch (const qv::Error& e) {
        Complain(e.what());
        return 1;
    }
}

std::string Flag(bool v) { return v ? "1" : "0"; }

} // namespace

int List(const std::string& file)
{
    return WithArchive(file, [](qv::ArchiveFile& archive) {
        const auto& reader = archive.Reader();
        std::printf("%12s %12s  %-9s %s\n", "Size", "Stored", "Kind", "Name");
        for (size_t i = 0; i < reader.Count(); ++i) {
            const qv::ArchiveEntry& e = reader.Entry(i);
            std::printf("%12lld %12lld  %-9s %s\n", static_cast<long long>(e.FileSize),
                        static_cast<long long>(e.StoredSize()), KindText(e.Storage), Shown(archive.Name(i)).c_str());
        }
        std::printf("%zu entries, archive at offset %lld\n", reader.Count(),
                    static_cast<long long>(reader.ArchiveStart()));
        return 0;
    });
}

int Verify(const std::string& file)
{
    return WithArchive(file, [&](qv::ArchiveFile& archive) {
        auto& reader = archive.Reader();
        // The viewers refuse an output whose settings are not a settings
        // image; so does its check.
        qv::SettingsEntryOf(reader);
        for (size_t i = 0; i < reader.Count(); ++i)
            reader.Extract(i, [](const uint8_t*, size_t) {});
        std::printf("%s: archive and %zu entries verified\n", Shown(file).c_str(), reader.Count());
        return 0;
    });
}

int Extract(const std::string& file, const std::string& folder)
{
    return WithArchive(file, [&](qv::ArchiveFile& archive) {
        auto& reader = archive.Reader();
        qv::SettingsEntryOf(reader);
        // Every name is judged before anything is written.
        std::vector<std::string> targets;
        for (size_t i = 0; i < reader.Count(); ++i) {
            const std::string ansi = reader.Entry(i).ArchiveName();
            const std::string why = qv::UnsafeExtractionReason(ansi);
            if (!why.empty())
                throw qv::Error(file + ": Refusing to extract \"" + reader.DisplayName(reader.Entry(i)) + "\": " + why);
            std::string target = folder;
            if (target.back() != '/')
                target += '/';
            const auto parts = qv::SplitPath(ansi, qv::separators::kEitherSlash, qv::EmptyParts::Keep);
            for (size_t k = 0; k < parts.size(); ++k)
                target += qv::codepage::FromAnsi(parts[k]) + (k + 1 < parts.size() ? "/" : "");
            targets.push_back(std::move(target));
        }
        std::filesystem::create_directories(folder);
        for (size_t i = 0; i < targets.size(); ++i) {
            std::filesystem::create_directories(qv::fs::FolderOf(targets[i]));
            // An entry's name never ends with a dot, so this name is never
            // one that the archive itself could hold.
            const std::string partial = targets[i] + ".partial.";
            try {
                qv::FileStream out(partial, qv::FileStream::Mode::Create);
                reader.ExtractTo(i, out);
                out.Close();
                std::filesystem::rename(partial, targets[i]);
            } catch (...) {
                std::error_code ignored;
                std::filesystem::remove(partial, ignored);
                throw;
            }
        }
        std::printf("%zu entries extracted to %s\n", reader.Count(), Shown(folder).c_str());
        return 0;
    });
}

int Config(const std::string& file)
{
    return WithArchive(file, [&](qv::ArchiveFile& archive) {
        auto& reader = archive.Reader();
        const int64_t index = qv::SettingsEntryOf(reader);
        if (index < 0)
            throw qv::Error(file + ": the archive has no \"-config-\" entry");
        const std::vector<uint8_t> image = reader.Extract(static_cast<size_t>(index));
        const qv::ProjectSettingsRecord s = qv::ReadSettingsImage(image);
        std::string stamp;
        for (char16_t c : s.VersionStamp)
            if (c) stamp += static_cast<char>(c < 0x80 ? c : '?');
        const std::vector<std::pair<const char*, std::string>> fields = {
            {"HomePage", s.HomePage.str()},
            {"OutputIsExe", Flag(s.OutputIsExe)},
            {"OutputPath", s.OutputPath.str()},
            {"BorderType", std::to_string(s.BorderType)},
            {"ViewWidth", std::to_string(s.ViewWidth)},
            {"ViewHeight", std::to_string(s.ViewHeight)},
            {"LogoPath", s.LogoPath.str()},
            {"ViewerFlag", Flag(s.ViewerFlag)},
            {"Shadow", Flag(s.Shadow)},
            {"HideScrollbars", Flag(s.HideScrollbars)},
            {"Centered", Flag(s.Centered)},
            {"ShowToolbar", Flag(s.ShowToolbar)},
            {"ShowCaptions", Flag(s.ShowCaptions)},
            {"ShowStatusbar", Flag(s.ShowStatusbar)},
            {"EnableCopy", Flag(s.EnableCopy)},
            {"EnableSearch", Flag(s.EnableSearch)},
            {"EnablePrint", Flag(s.EnablePrint)},
            {"EnableFont", Flag(s.EnableFont)},
            {"Password", s.Password.str()},
            {"ExpiryEnabled", Flag(s.ExpiryEnabled)},
            {"ExpiryDate", qv::FormatProjectDate(s.ExpiryDate)},
            {"IncludeMask", s.IncludeMask.str()},
            {"DirectMask", s.DirectMask.str()},
            {"CursorOption", Flag(s.CursorOption)},
            {"CompressionLevel", std::to_string(s.CompressionLevel)},
            {"UserAgent", s.UserAgent.str()},
            {"ContextMenu", Flag(s.ContextMenu)},
            {"VersionStamp", stamp},
        };
        for (const auto& [name, value] : fields)
            std::printf("%s = %s\n", name, Shown(value).c_str());
        return 0;
    });
}

int Resources(const std::string& file)
{
    static const std::map<std::string, const char*> kTypes = {
        {"1", "RT_CURSOR"}, {"2", "RT_BITMAP"}, {"3", "RT_ICON"}, {"4", "RT_MENU"}, {"5", "RT_DIALOG"},
        {"6", "RT_STRING"}, {"7", "RT_FONTDIR"}, {"8", "RT_FONT"}, {"9", "RT_ACCELERATOR"},
        {"10", "RT_RCDATA"}, {"11", "RT_MESSAGETABLE"}, {"12", "RT_GROUP_CURSOR"}, {"14", "RT_GROUP_ICON"},
        {"16", "RT_VERSION"}, {"17", "RT_DLGINCLUDE"}, {"19", "RT_PLUGPLAY"}, {"20", "RT_VXD"},
        {"21", "RT_ANICURSOR"}, {"22", "RT_ANIICON"}, {"23", "RT_HTML"}, {"24", "RT_MANIFEST"}};
    try {
        const auto entries = qv::pe::ReadResources(file);
        std::printf("%-22s %-24s %8s %10s\n", "Type", "Name", "Language", "Size");
        for (const auto& e : entries) {
            const auto known = kTypes.find(e.type);
            const std::string type = known == kTypes.end() ? e.type : e.type + " (" + known->second + ")";
            std::printf("%-22s %-24s %8u %10zu\n", Shown(type).c_str(), Shown(e.name).c_str(), e.language,
                        e.data.size());
        }
        std::printf("%zu resources\n", entries.size());
        return 0;
    } catch (const qv::Error& e) {
        Complain(e.what());
        return 1;
    }
}

} // namespace qvc
