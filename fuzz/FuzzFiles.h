#pragma once
// The loaders of the two XML files read from a path, so each input is
// written to a file of this process's own first.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <unistd.h>

namespace qvfuzz {

// A fresh folder per process, in memory where the system has such a folder
// (the savers flush to the device, which on a disk would cost most of each
// run); the file keeps one name so that paths in it resolve the same way
// run after run.
inline std::string ScratchFile(const std::string& name)
{
    struct Folder {
        std::filesystem::path path;
        Folder()
        {
            std::error_code ec;
            path = (std::filesystem::is_directory("/dev/shm", ec) ? std::filesystem::path("/dev/shm")
                                                                   : std::filesystem::temp_directory_path()) /
                   ("qv-fuzz-" + std::to_string(::getpid()));
            std::filesystem::create_directories(path);
        }
        ~Folder()
        {
            std::error_code ec;
            std::filesystem::remove_all(path, ec);
        }
    };
    static const Folder folder;
    return (folder.path / name).string();
}

inline void WriteBytes(const std::string& path, const uint8_t* data, size_t size)
{
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f)
        __builtin_trap();
    if (size > 0 && std::fwrite(data, 1, size, f) != size)
        __builtin_trap();
    std::fclose(f);
}

} // namespace qvfuzz
