#include "quorvane/project/ShortString.h"

#include "quorvane/platform/CodePage.h"

#include <algorithm>

namespace qv {

void ShortString::Assign(std::string_view utf8)
{
    ansi_ = codepage::ToAnsi(utf8);
    if (ansi_.size() > kCapacity)
        ansi_.resize(kCapacity);
    text_ = codepage::FromAnsi(ansi_);
}

ShortString ShortString::FromAnsiBytes(std::string_view ansi)
{
    ShortString s;
    s.ansi_ = std::string(ansi.substr(0, kCapacity));
    s.text_ = codepage::FromAnsi(s.ansi_);
    return s;
}

void ShortString::Append(std::string_view utf8)
{
    std::string more = codepage::ToAnsi(utf8);
    ansi_ += more.substr(0, kCapacity - std::min(kCapacity, ansi_.size()));
    text_ = codepage::FromAnsi(ansi_);
}

std::array<uint8_t, 256> ShortString::Image() const
{
    std::array<uint8_t, 256> out{};
    out[0] = static_cast<uint8_t>(ansi_.size());
    std::copy(ansi_.begin(), ansi_.end(), out.begin() + 1);
    return out;
}

} // namespace qv
