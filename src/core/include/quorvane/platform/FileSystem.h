#pragma once
#include <cstdint>
#include <string>
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
// Writes `bytes` to a temporary file beside `path` and renames it over
// `path`, so a failure leaves the old file whole. Throws OsError.
void WriteFileAtomic(const std::string& path, const std::string& bytes);

std::string AbsolutePath(const std::string& path);   // lexically normalised
std::string FolderOf(const std::string& path);        // up to and including the last "/"
std::string FileNameOf(const std::string& path);      // after the last "/"
std::string ProgramFolder();                          // with a trailing "/"
std::string CurrentFolder();
int64_t FileSize(const std::string& path);            // -1 when it cannot be opened

} // namespace qv::fs
