#include "quorvane/platform/TempFiles.h"

#include "quorvane/base/Error.h"

#include <cerrno>
#include <cstdlib>
#include <unistd.h>

namespace qv::tempfiles {

std::string SystemTempFolder()
{
    const char* dir = std::getenv("TMPDIR");
    std::string folder = dir && *dir ? dir : "/tmp";
    while (folder.size() > 1 && folder.back() == '/')
        folder.pop_back();
    return folder;
}

std::string CreateUniqueFile(const std::string& folder, const std::string& prefix)
{
    std::string name = folder;
    if (name.empty() || name.back() != '/')
        name += '/';
    name += prefix + "XXXXXX.tmp";
    const int fd = ::mkstemps(name.data(), 4);
    if (fd < 0)
        RaiseOsError("Cannot create file", name, errno);
    ::close(fd);
    return name;
}

std::string CreateUniqueFolder(const std::string& folder, const std::string& prefix)
{
    std::string name = folder;
    if (name.empty() || name.back() != '/')
        name += '/';
    name += prefix + "XXXXXX";
    if (!::mkdtemp(name.data()))
        RaiseOsError("Cannot create a folder in", folder, errno);
    return name;
}

bool RemoveEmptyFolder(const std::string& folder)
{
    return ::rmdir(folder.c_str()) == 0;
}

std::unique_ptr<FileStream> OpenNamelessFile(const std::string& folder, const std::string& prefix)
{
    const std::string name = CreateUniqueFile(folder, prefix);
    std::unique_ptr<FileStream> file;
    try {
        file = std::make_unique<FileStream>(name, FileStream::Mode::OpenReadWrite);
    } catch (...) {
        ::unlink(name.c_str());
        throw;
    }
    ::unlink(name.c_str());
    return file;
}

} // namespace qv::tempfiles
