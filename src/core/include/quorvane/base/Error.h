#pragma once
#include <stdexcept>
#include <string>

namespace qv {

// The one root of every failure the product reports. The message is the
// exact English text a user sees (before the error box adds its period).
class Error : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A failure of the operating system on a named file or folder. The message
// reads like the platform's own ("Cannot open file "x". No such file or
// directory"); the errno value is kept for callers that branch on it.
class OsError : public Error {
public:
    OsError(const std::string& message, int code) : Error(message), code_(code) {}
    int code() const noexcept { return code_; }

private:
    int code_;
};

// Throws OsError for errno `code`, e.g. RaiseOsError("Cannot open file", path, errno).
[[noreturn]] void RaiseOsError(const std::string& what, const std::string& path, int code);

// The text of the program's error box: a final "." is added when the last
// character's code is above that of "." ("File already in use!" stays).
std::string ErrorBoxText(const std::string& message);

} // namespace qv
