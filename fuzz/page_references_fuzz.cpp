// The page and stylesheet readers of the link check on arbitrary bytes; the
// check hands them UTF-8, as here.
#include "quorvane/base/Utf8.h"
#include "quorvane/check/PageReferences.h"

#include <cstddef>
#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string_view raw(reinterpret_cast<const char*>(data), size);
    const std::string text = qv::IsUtf8(raw) ? std::string(raw) : qv::EncodeUtf8(qv::DecodeUtf8(raw));
    (void)qv::ScanHtml(text);
    std::vector<qv::PageReference> refs;
    qv::ScanCss(text, 1, refs);
    (void)qv::SrcsetUrls(text);
    return 0;
}
