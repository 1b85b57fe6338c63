// The project file loader on arbitrary bytes. What it accepts must survive
// a save and a second load unchanged.
#include "FuzzFiles.h"
#include "quorvane/base/Error.h"
#include "quorvane/project/ProjectFile.h"
#include "quorvane/project/ProjectSettings.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const std::string input = qvfuzz::ScratchFile("input.qp");
    static const std::string saved = qvfuzz::ScratchFile("saved.qp");
    qvfuzz::WriteBytes(input, data, size);

    qv::ProjectSettingsRecord loaded;
    try {
        qv::LoadProject(input, loaded);
    } catch (const qv::Error&) {
        return 0;
    }
    if (!qv::SaveProject(saved, loaded, nullptr))
        __builtin_trap();
    qv::ProjectSettingsRecord again;
    qv::LoadProject(saved, again); // a file we wrote must load
    if (qv::WriteSettingsImage(again) != qv::WriteSettingsImage(loaded))
        __builtin_trap();
    return 0;
}
