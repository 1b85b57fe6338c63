// Any bytes as the "-search-" entry of an output, opened and queried as the
// viewers and quorvanec search do, and as a page whose text is extracted
// whole and in two pieces. Errors are the expected outcome; crashes, hangs
// and huge allocations are not.
#include "FuzzFiles.h"

#include "quorvane/archive/ArchiveWriter.h"
#include "quorvane/viewercore/PageText.h"
#include "quorvane/viewercore/SearchSchema.h"
#include "quorvane/viewercore/SiteFile.h"
#include "quorvane/viewercore/SiteSearch.h"

#include <cstddef>
#include <cstdint>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const qv::PageText whole = qv::ExtractPageText(data, size);
    qv::PageTextExtractor halves;
    halves.Feed(data, size / 2);
    halves.Feed(data + size / 2, size - size / 2);
    halves.Finish();

    const std::string path = qvfuzz::ScratchFile("search.qpf");
    std::remove(path.c_str());
    qv::ArchiveWriter writer;
    writer.Create(path);
    qv::MemoryStream page(std::vector<uint8_t>(data, data + size));
    writer.Add("index.html", page);
    writer.SetLevel(qv::CompressionLevel::None);
    qv::MemoryStream index(std::vector<uint8_t>(data, data + size));
    writer.Add(qv::search_schema::kEntryName, index);
    writer.Close();
    try {
        const auto site = qv::OpenSiteFile(path);
        const qv::SiteSearch search(*site);
        for (const char* query : {"index", "a*", "\"the page\" -x", "html"})
            for (const qv::SearchHit& hit : search.Find(query, 5))
                if (hit.address.empty() && hit.snippet.size() > size + 2)
                    __builtin_trap();
    } catch (const qv::Error&) {
    }
    return 0;
}
