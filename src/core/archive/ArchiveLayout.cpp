#include "quorvane/archive/ArchiveLayout.h"

#include "quorvane/base/Error.h"
#include "quorvane/base/LittleEndian.h"

#include <algorithm>
#include <cstring>
#include <type_traits>

namespace qv {
namespace {

using ShortField = std::array<uint8_t, archive_layout::kShortStringSize>;

std::string ShortText(const ShortField& s)
{
    // The length byte can say at most 255, which the field holds.
    return std::string(reinterpret_cast<const char*>(s.data() + 1), s[0]);
}

template <typename Layout>
void ReadFields(Layout& layout, std::span<const uint8_t> image)
{
    const LeReader in(image);
    Layout::EachField(layout, [&](size_t at, auto& field) {
        field = in.Get<std::remove_reference_t<decltype(field)>>(at);
    });
}

void SetShort(ShortField& s, std::string_view ansi)
{
    const size_t n = std::min(ansi.size(), s.size() - 1);
    s.fill(0);
    s[0] = static_cast<uint8_t>(n);
    std::memcpy(s.data() + 1, ansi.data(), n);
}

} // namespace

std::string ArchiveRecord::NameAnsi() const { return ShortText(Name); }
std::string ArchiveRecord::PathAnsi() const { return ShortText(Path); }
void ArchiveRecord::SetName(std::string_view ansi) { SetShort(Name, ansi); }
void ArchiveRecord::SetPath(std::string_view ansi) { SetShort(Path, ansi); }

void ArchiveRecord::WriteImage(std::span<uint8_t, kImageSize> out) const
{
    std::copy(Name.begin(), Name.end(), out.begin() + filerec_offset::Name);
    std::copy(Path.begin(), Path.end(), out.begin() + filerec_offset::Path);
    EachField(*this, [&](size_t at, auto field) { PutLE(out, at, field); });
}

std::array<uint8_t, ArchiveRecord::kImageSize> ArchiveRecord::Image() const
{
    std::array<uint8_t, kImageSize> out{};
    WriteImage(out);
    return out;
}

ArchiveRecord ArchiveRecord::FromImage(std::span<const uint8_t> image)
{
    if (image.size() < kImageSize)
        throw Error("Archive directory record is cut short");
    ArchiveRecord r;
    std::copy_n(image.begin() + filerec_offset::Name, r.Name.size(), r.Name.begin());
    std::copy_n(image.begin() + filerec_offset::Path, r.Path.size(), r.Path.begin());
    ReadFields(r, image.first(kImageSize));
    return r;
}

std::array<uint8_t, ArchiveTrailer::kImageSize> ArchiveTrailer::Image() const
{
    std::array<uint8_t, kImageSize> out{};
    EachField(*this, [&](size_t at, auto field) { PutLE(out, at, field); });
    return out;
}

ArchiveTrailer ArchiveTrailer::FromImage(std::span<const uint8_t> image)
{
    if (image.size() < kImageSize)
        throw Error("Archive trailer is cut short");
    ArchiveTrailer t;
    ReadFields(t, image.first(kImageSize));
    return t;
}

} // namespace qv
