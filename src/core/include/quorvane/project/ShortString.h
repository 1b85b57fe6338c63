#pragma once
#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace qv {

// Text that lives in a 256-byte short string: at most 255 bytes in the ANSI
// code page. Held as UTF-8, but always exactly what the short string can
// hold: assigning converts to the code page ("?" for what it lacks), cuts to
// 255 bytes and converts back, so the value in memory is the value on disk.
class ShortString {
public:
    static constexpr size_t kCapacity = 255;

    ShortString() = default;
    ShortString(std::string_view utf8) { Assign(utf8); } // NOLINT: implicit on purpose
    ShortString(const char* utf8) { Assign(utf8); }      // NOLINT
    ShortString(const std::string& utf8) { Assign(utf8); } // NOLINT
    ShortString& operator=(std::string_view utf8) { Assign(utf8); return *this; }
    ShortString& operator=(const char* utf8) { Assign(utf8); return *this; }
    ShortString& operator=(const std::string& utf8) { Assign(utf8); return *this; }

    static ShortString FromAnsiBytes(std::string_view ansi);

    const std::string& str() const { return text_; }
    operator const std::string&() const { return text_; } // NOLINT
    const std::string& Ansi() const { return ansi_; }
    size_t AnsiLength() const { return ansi_.size(); }
    bool empty() const { return ansi_.empty(); }
    bool IsFull() const { return ansi_.size() >= kCapacity; }

    // Appends, keeping what fits (a full short string stays as it is).
    void Append(std::string_view utf8);

    // Length byte, the text, then zeros: the 256 bytes of the image. The
    // tail is always zero so no earlier value leaks into an image.
    std::array<uint8_t, 256> Image() const;

    friend bool operator==(const ShortString& a, const ShortString& b) { return a.ansi_ == b.ansi_; }

private:
    void Assign(std::string_view utf8);
    std::string ansi_;
    std::string text_;
};

} // namespace qv
