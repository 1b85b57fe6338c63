#include "quorvane/resources/VersionResource.h"

#include "ResourceSupport.h"
#include "quorvane/platform/CodePage.h"

#include <algorithm>
#include <functional>

namespace qv {
namespace {

[[noreturn]] void Malformed()
{
    throw Error("Invalid version information");
}

// One block of the version tree: length, value length, type, a UTF-16 key,
// the value, then child blocks, each 32-bit aligned from the start.
struct Block {
    size_t start = 0;
    size_t end = 0;        // start + length
    std::u16string key;
    size_t valueAt = 0;
    size_t valueBytes = 0; // text values count 16-bit units in the header
    size_t childrenAt = 0;
};

size_t Align4(size_t at)
{
    return (at + 3) & ~size_t{3};
}

Block ReadBlock(const LeReader& data, size_t limit, size_t at)
{
    if (static_cast<uint64_t>(at) + 6 > limit)
        Malformed();
    LeReader in(data.Bytes(0, limit, "version information"));
    in.Seek(at, "version block");
    Block b;
    b.start = at;
    const size_t length = in.Read<uint16_t>();
    const size_t valueLength = in.Read<uint16_t>();
    const bool text = in.Read<uint16_t>() == 1;
    if (length < 6 || static_cast<uint64_t>(at) + length > limit)
        Malformed();
    b.end = at + length;
    for (;;) {
        if (in.Position() + 2 > b.end)
            Malformed();
        const char16_t unit = in.Read<char16_t>();
        if (unit == 0)
            break;
        b.key.push_back(unit);
    }
    b.valueAt = std::min(Align4(in.Position()), b.end);
    b.valueBytes = text ? valueLength * 2 : valueLength;
    if (static_cast<uint64_t>(b.valueAt) + b.valueBytes > b.end)
        Malformed();
    b.childrenAt = std::min(Align4(b.valueAt + b.valueBytes), b.end);
    return b;
}

void ForEachChild(const LeReader& data, const Block& parent, const std::function<void(const Block&)>& visit)
{
    size_t at = parent.childrenAt;
    while (at + 6 <= parent.end) {
        const Block child = ReadBlock(data, parent.end, at);
        visit(child);
        at = Align4(child.end);
    }
}

std::string TextValue(const LeReader& data, const Block& b)
{
    std::u16string text;
    for (size_t p = b.valueAt; p + 2 <= b.valueAt + b.valueBytes; p += 2) {
        const char16_t unit = data.Get<char16_t>(p);
        if (unit == 0)
            break;
        text.push_back(unit);
    }
    return codepage::FromUtf16(text);
}

} // namespace

void VersionInfoResourceDetails::Parse() const
{
    if (parsed_)
        return;
    std::vector<StringValue> strings;
    std::vector<Translation> translations;
    const LeReader data(Data().Bytes());
    const size_t size = data.size();
    // The tree is at most four levels deep: root, file info, table, value.
    const Block root = ReadBlock(data, size, 0);
    if (root.key != u"VS_VERSION_INFO")
        Malformed();
    ForEachChild(data, root, [&](const Block& info) {
        if (info.key == u"StringFileInfo") {
            ForEachChild(data, info, [&](const Block& table) {
                const std::string tableKey = codepage::FromUtf16(table.key);
                ForEachChild(data, table, [&](const Block& value) {
                    strings.push_back({tableKey, codepage::FromUtf16(value.key), TextValue(data, value)});
                });
            });
        } else if (info.key == u"VarFileInfo") {
            ForEachChild(data, info, [&](const Block& var) {
                if (var.key != u"Translation")
                    return;
                for (size_t p = var.valueAt; p + 4 <= var.valueAt + var.valueBytes; p += 4)
                    translations.push_back({data.Get<uint16_t>(p), data.Get<uint16_t>(p + 2)});
            });
        }
    });
    strings_ = std::move(strings);
    translations_ = std::move(translations);
    parsed_ = true;
}

const std::vector<VersionInfoResourceDetails::StringValue>& VersionInfoResourceDetails::StringValues() const
{
    Parse();
    return strings_;
}

const std::vector<VersionInfoResourceDetails::Translation>& VersionInfoResourceDetails::Translations() const
{
    Parse();
    return translations_;
}

void VersionInfoResourceDetails::ReplaceData(Stream& source)
{
    parsed_ = false;
    strings_.clear();
    translations_.clear();
    ResourceDetails::ReplaceData(source);
}

} // namespace qv
