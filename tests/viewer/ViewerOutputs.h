#pragma once
// Outputs for the viewer's tests: viewer.exe with an archive appended that
// was composed straight from the format, and settings images laid out at
// the fields' offsets.
#include "TestSupport.h"
#include "quorvane/project/SettingsImage.h"

#include <string>
#include <vector>

namespace qvtest {

// The settings a project starts with, as the build writes them.
struct OutputSettings {
    std::string homePage = "index.html";
    int32_t border = 2;
    int32_t width = 640;
    int32_t height = 480;
    bool shadow = false;
    bool centered = false;
    bool toolbar = true;
    bool captions = true;
    bool statusbar = true;
    bool copy = true;
    bool find = true;
    bool print = true;
    bool font = true;
    std::string password;
    bool expiry = false;
    double expiryDate = 0.0;
    std::string directMask = "*.exe;";

    std::vector<uint8_t> Image() const
    {
        namespace o = qv::settings_offset;
        using namespace qv::settings_image;
        std::vector<uint8_t> image(qv::kSettingsImageSize, 0);
        PutShortString(image, o::HomePage, homePage);
        image[o::OutputIsExe] = 1;
        PutInt32(image, o::BorderType, border);
        PutInt32(image, o::ViewWidth, width);
        PutInt32(image, o::ViewHeight, height);
        image[o::ViewerFlag] = 1;
        image[o::Shadow] = shadow;
        image[o::Centered] = centered;
        image[o::ShowToolbar] = toolbar;
        image[o::ShowCaptions] = captions;
        image[o::ShowStatusbar] = statusbar;
        image[o::EnableCopy] = copy;
        image[o::EnableSearch] = find;
        image[o::EnablePrint] = print;
        image[o::EnableFont] = font;
        PutShortString(image, o::Password, password);
        image[o::ExpiryEnabled] = expiry;
        PutDate(image, o::ExpiryDate, expiryDate);
        PutShortString(image, o::IncludeMask, "*.*;");
        PutShortString(image, o::DirectMask, directMask);
        image[o::ContextMenu] = 1;
        return image;
    }
};

inline std::vector<uint8_t> ViewerWith(const std::vector<uint8_t>& archive)
{
    std::vector<uint8_t> exe = ReadFile(QV_VIEWER_EXE);
    exe.insert(exe.end(), archive.begin(), archive.end());
    return exe;
}

} // namespace qvtest
