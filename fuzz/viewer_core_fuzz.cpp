// Opens any bytes as an output the way both viewers do: directory and
// settings, the home page, a few addresses, ranges and types of every
// entry and the logo. Errors are the expected outcome; crashes, hangs,
// huge allocations and bytes that differ between two roads to them are not.
#include "quorvane/base/Stream.h"
#include "quorvane/viewercore/SiteArchive.h"
#include "quorvane/viewercore/SiteFile.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace {

std::vector<uint8_t> ReadRange(const qv::SiteArchive& site, size_t index, int64_t offset, int64_t count)
{
    std::vector<uint8_t> bytes;
    site.Read(index, offset, count, [&](const uint8_t* d, size_t n) { bytes.insert(bytes.end(), d, d + n); });
    return bytes;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const auto file = std::make_shared<const std::vector<uint8_t>>(data, data + size);
    std::unique_ptr<qv::SiteArchive> site;
    try {
        site = std::make_unique<qv::SiteArchive>([file] { return std::make_unique<qv::MemoryStream>(*file); },
                                                 qv::SystemAnsiCodec(), "fuzz.qpf");
    } catch (const qv::Error&) {
        return 0;
    }
    try {
        (void)site->Logo();
    } catch (const qv::Error&) {
    }
    const std::string home = site->HomeAddress();
    for (const std::string& address : {std::string("/"), home, std::string("/index.html"),
                                       std::string("/sub/page.html"), std::string("/-config-"),
                                       std::string("/a%2f..%2f-logo-"), std::string("/x.exe")}) {
        const qv::SiteArchive::Target target = site->Find(address);
        if (target.kind == qv::SiteArchive::Target::Kind::Entry && target.index >= site->Reader().Count())
            __builtin_trap();
    }
    for (size_t i = 0; i < site->Reader().Count(); ++i) {
        const int64_t length = site->Reader().Entry(i).FileSize;
        try {
            const std::vector<uint8_t> whole = site->ReadAll(i);
            if (static_cast<int64_t>(whole.size()) != length)
                __builtin_trap();
            // The type is judged on the same bytes, handed back when read.
            std::vector<uint8_t> judged;
            (void)site->ContentTypeOf(i, &judged);
            if (!judged.empty() && judged != whole)
                __builtin_trap();
            // A range is the same bytes as the whole entry holds there.
            const int64_t offset = length / 3;
            const int64_t count = std::min<int64_t>(length - offset, 1000);
            const std::vector<uint8_t> part = ReadRange(*site, i, offset, count);
            if (!std::equal(part.begin(), part.end(), whole.begin() + offset, whole.begin() + offset + count) ||
                static_cast<int64_t>(part.size()) != count)
                __builtin_trap();
        } catch (const qv::Error&) {
        }
        try {
            (void)ReadRange(*site, i, length, 1); // past the end: refused
            __builtin_trap();
        } catch (const qv::Error&) {
        }
    }
    return 0;
}
