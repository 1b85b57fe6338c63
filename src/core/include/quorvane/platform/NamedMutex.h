#pragma once
#include <string>

namespace qv::platform {

// A named lock held while the program runs, standing in for the kernel
// mutex "TALMERIDEX". Taking it never blocks and never fails the program:
// a second copy opens the same name and runs beside the first.
class NamedMutex {
public:
    explicit NamedMutex(const std::string& name);
    ~NamedMutex();
    NamedMutex(const NamedMutex&) = delete;
    NamedMutex& operator=(const NamedMutex&) = delete;

    bool Created() const { return created_; }  // this process made it
    bool Held() const { return handle_ != nullptr; }

private:
    void* handle_ = nullptr;
    bool created_ = false;
};

} // namespace qv::platform
