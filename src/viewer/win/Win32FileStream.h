#pragma once
#include "quorvane/base/Stream.h"

#include <string>

namespace viewer {

// qv::Stream over a Win32 file handle. Failures throw qv::Error naming the
// file, with the system's own reason.
class Win32FileStream final : public qv::Stream {
public:
    enum class Mode { OpenRead, Create };
    Win32FileStream(const std::wstring& path, Mode mode);
    ~Win32FileStream() override;
    Win32FileStream(const Win32FileStream&) = delete;
    Win32FileStream& operator=(const Win32FileStream&) = delete;

    int64_t Size() const override;
    int64_t Position() const override { return position_; }
    void Seek(int64_t position) override;
    size_t Read(void* buffer, size_t count) override;
    void Write(const void* buffer, size_t count) override;
    void SetSize(int64_t size) override;
    // Closes, reporting a failure; the destructor closes silently.
    void Close();

private:
    [[noreturn]] void Fail(const char* what, unsigned long code) const;

    std::wstring path_;
    void* handle_;
    int64_t position_ = 0;
};

// A new, empty folder of the viewer's own in the user's temporary folder.
// Throws qv::Error when none can be made.
std::wstring MakeTemporaryFolder();

} // namespace viewer
