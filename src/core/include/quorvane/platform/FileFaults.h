#pragma once
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

// A seam in the file layer for walking the failure paths of a job: a hook
// that sees every open, read, write, size change, close and rename of the
// file streams and file moves, and may fail it with an errno value. Without
// a hook (the normal case) it costs one atomic load per operation.
namespace qv::fs {

enum class FileOp { Open, Create, Read, Write, Close, Rename };

struct FileAccess {
    FileOp op;
    const std::string& path;   // for Rename, the file being moved
    int64_t position = 0;      // Read and Write: where; Write via SetSize: the new size
    size_t count = 0;          // Read and Write: how many bytes
};

// Returns 0 to let the operation go ahead, or the errno value it fails
// with. The hook may also change the file on disk before returning. Calls
// come from any thread, one at a time.
using FaultHook = std::function<int(const FileAccess&)>;

// Installs `hook` until the guard ends. Set it before the threads that use
// files start, and let it end after they have been joined.
class ScopedFaultHook {
public:
    explicit ScopedFaultHook(FaultHook hook);
    ~ScopedFaultHook();
    ScopedFaultHook(const ScopedFaultHook&) = delete;
    ScopedFaultHook& operator=(const ScopedFaultHook&) = delete;

private:
    FaultHook hook_;
};

// The errno value the installed hook fails `access` with; 0 without a hook.
int InjectedFault(const FileAccess& access);

} // namespace qv::fs
