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

std::string TZLBFileRec2::NameAnsi() const { return ShortText(Name); }
std::string TZLBFileRec2::PathAnsi() const { return ShortText(Path); }
void TZLBFileRec2::SetName(std::string_view ansi) { SetShort(Name, ansi); }
void TZLBFileRec2::SetPath(std::string_view ansi) { SetShort(Path, ansi); }

void TZLBFileRec2::WriteImage(std::span<uint8_t, kImageSize> out) const
{
    std::copy(Name.begin(), Name.end(), out.begin() + filerec_offset::Name);
    std::copy(Path.begin(), Path.end(), out.begin() + filerec_offset::Path);
    EachField(*this, [&](size_t at, auto field) { PutLE(out, at, field); });
}

std::array<uint8_t, TZLBFileRec2::kImageSize> TZLBFileRec2::Image() const
{
    std::array<uint8_t, kImageSize> out{};
    WriteImage(out);
    return out;
}

TZLBFileRec2 TZLBFileRec2::FromImage(std::span<const uint8_t> image)
{
    if (image.size() < kImageSize)
        throw Error("Archive directory record is cut short");
    TZLBFileRec2 r;
    std::copy_n(image.begin() + filerec_offset::Name, r.Name.size(), r.Name.begin());
    std::copy_n(image.begin() + filerec_offset::Path, r.Path.size(), r.Path.begin());
    ReadFields(r, image.first(kImageSize));
    return r;
}

std::array<uint8_t, TZLBTrailer2::kImageSize> TZLBTrailer2::Image() const
{
    std::array<uint8_t, kImageSize> out{};
    EachField(*this, [&](size_t at, auto field) { PutLE(out, at, field); });
    return out;
}

TZLBTrailer2 TZLBTrailer2::FromImage(std::span<const uint8_t> image)
{
    if (image.size() < kImageSize)
        throw Error("Archive trailer is cut short");
    TZLBTrailer2 t;
    ReadFields(t, image.first(kImageSize));
    return t;
}

} // namespace qv
