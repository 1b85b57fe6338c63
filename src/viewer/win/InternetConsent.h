#pragma once
#include <string>

namespace viewer {

// The reader's "Always for this file": the outputs whose pages may load
// content from the internet, each remembered by the SHA-256 of the output
// file's bytes, so that a changed file, or another one of the same name,
// asks again. One lowercase hexadecimal digest per line of
// "%APPDATA%\Quorvane\internet-allowed.txt".
class InternetConsent {
public:
    explicit InternetConsent(std::wstring outputPath) : outputPath_(std::move(outputPath)) {}

    // False, and the file is not even read, while the list is empty; false
    // too when the list or the output cannot be read.
    bool Remembered() const;
    // Throws qv::Error naming the file that cannot be read or written.
    void Remember() const;

private:
    std::wstring outputPath_;
};

} // namespace viewer
