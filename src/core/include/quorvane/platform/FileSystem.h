#pragma once
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

// Files and folders, as the build needs them. Paths are UTF-8 with "/".
namespace qv::fs {

struct DirEntry {
    std::string name;
    bool isFolder = false;  // following symbolic links
    bool isFile = false;    // a regular file, following symbolic links
    // "named pipe", "socket" or "device" for those (following links); null
    // for everything else, a dangling link included.
    const char* special = nullptr;
};

// Every entry of a folder but "." and "..", hidden ones included, sorted by
// name without regard to case (ties by bytes), so walks are reproducible.
// Throws OsError when the folder cannot be read.
std::vector<DirEntry> ListFolder(const std::string& folder);

// Identity of a folder, to notice one reached again through a link.
struct FolderId {
    uint64_t device = 0, inode = 0;
    friend bool operator==(const FolderId&, const FolderId&) = default;
};
bool GetFolderId(const std::string& folder, FolderId& id);

bool FileExists(const std::string& path);   // a file, not a folder
bool FolderExists(const std::string& path);
bool PathExists(const std::string& path);   // anything, dangling links included
// True when nothing is left at `path` (also when there was nothing).
bool DeleteFileIfExists(const std::string& path);
void DeleteFileOrThrow(const std::string& path);
// Replaces `to`. Throws OsError naming the file that failed.
void CopyFile(const std::string& from, const std::string& to);
// A rename, or copy and delete across file systems. Throws OsError; a copy
// that fails leaves nothing at `to`.
void MoveFile(const std::string& from, const std::string& to);
// The one safe replacement of a user's file. A symbolic link is followed to
// the file it names, which gets the new bytes while the link stays a link.
// The bytes go to "<file>.tmpXXXXXX" beside that file, get its permissions
// (and owner, when we may; 0644 for a new file), are flushed to the device
// and renamed over it. A failure leaves the old file whole, removes the
// temporary file and throws OsError naming `path`. `beforeRename` runs with
// the temporary file's name just before the rename, so tests can fail it.
void WriteFileAtomic(const std::string& path, std::span<const uint8_t> bytes,
                     const std::function<void(const std::string& tempPath)>& beforeRename = {});
inline void WriteFileAtomic(const std::string& path, std::string_view text)
{
    WriteFileAtomic(path, std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(text.data()), text.size()));
}

std::string AbsolutePath(const std::string& path);   // lexically normalised
std::string FolderOf(const std::string& path);        // up to and including the last "/"
std::string FileNameOf(const std::string& path);      // after the last "/"
std::string ProgramFolder();                          // with a trailing "/"
// A file the programs need at run time ("viewer.exe", the help): beside the
// program first, as in the build tree, then in the installed data folder
// found relative to the program's folder, so any install prefix works. When
// it is in neither, the path beside the program, which messages then name.
std::string ProgramFile(const std::string& programFolder, const std::string& name);
std::string ProgramFile(const std::string& name);     // of the running program
std::string CurrentFolder();
int64_t FileSize(const std::string& path);            // -1 when it cannot be opened

} // namespace qv::fs
