// The application settings file reader on arbitrary bytes. The list it
// reads must come back the same after a save and a second read.
#include "FuzzFiles.h"
#include "quorvane/base/Error.h"
#include "quorvane/project/AppSettings.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const std::string input = qvfuzz::ScratchFile("input.xml");
    static const std::string saved = qvfuzz::ScratchFile("saved.xml");
    qvfuzz::WriteBytes(input, data, size);

    qv::RecentProjects recent;
    try {
        qv::LoadAppSettings(recent, input);
    } catch (const qv::Error&) {
        return 0;
    }
    if (recent.Count() > qv::RecentProjects::kCapacity)
        __builtin_trap();
    qv::SaveAppSettings(recent, saved);
    qv::RecentProjects again;
    qv::LoadAppSettings(again, saved);
    if (again.Items() != recent.Items())
        __builtin_trap();
    return 0;
}
