#include "Cli.h"

#include "quorvane/archive/ArchiveReader.h"
#include "quorvane/check/SiteCheck.h"
#include "quorvane/viewercore/SiteFile.h"
#include "quorvane/viewercore/SiteSearch.h"

#include <cstdio>

namespace qvc {
namespace {

std::string JsonHit(const qv::SearchHit& hit)
{
    std::string parts;
    for (const qv::SnippetPart& part : hit.snippet)
        parts += std::string(parts.empty() ? "" : ", ") + "{\"text\": " + qv::JsonString(part.text) +
                 ", \"match\": " + (part.matched ? "true" : "false") + "}";
    char score[32];
    std::snprintf(score, sizeof score, "%.6g", hit.score);
    return "{\"address\": " + qv::JsonString(hit.address) + ", \"title\": " + qv::JsonString(hit.title) +
           ", \"score\": " + score + ", \"snippet\": " + qv::JsonString(qv::MarkedText(hit.snippet, "«", "»")) +
           ", \"parts\": [" + parts + "]}";
}

} // namespace

int Search(const SearchOptions& options)
{
    std::vector<qv::SearchHit> hits;
    try {
        const std::unique_ptr<qv::SiteArchive> site = qv::OpenSiteFile(options.output);
        const qv::SiteSearch search(*site);
        hits = search.Find(options.query, options.limit);
    } catch (const qv::NoSearchIndex& e) {
        Complain(e.what());
        return 2;
    } catch (const qv::SearchQueryError& e) {
        Complain(e.what());
        return 2;
    } catch (const qv::ArchiveNotFound& e) {
        Complain(e.what());
        return 2;
    }
    if (options.json) {
        std::string out = "{\n  \"query\": " + qv::JsonString(options.query) + ",\n  \"results\": [";
        for (size_t i = 0; i < hits.size(); ++i)
            out += std::string(i ? "," : "") + "\n    " + JsonHit(hits[i]);
        out += hits.empty() ? "]\n}\n" : "\n  ]\n}\n";
        std::fputs(out.c_str(), stdout);
    } else {
        std::string out;
        for (size_t i = 0; i < hits.size(); ++i) {
            const qv::SearchHit& hit = hits[i];
            out += std::to_string(i + 1) + ". " + Shown(hit.address);
            if (!hit.title.empty())
                out += " - " + Shown(hit.title);
            out += "\n   " + Shown(qv::MarkedText(hit.snippet, "«", "»")) + "\n";
        }
        if (hits.empty())
            out = "No page matches.\n";
        std::fputs(out.c_str(), stdout);
    }
    return hits.empty() ? 1 : 0;
}

} // namespace qvc
