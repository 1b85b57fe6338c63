#include "quorvane/check/PageReferences.h"
#include "quorvane/check/SiteCheck.h"

#include "quorvane/base/Utf8.h"

namespace qv {

std::string JsonString(std::string_view text)
{
    // File and page names are bytes; a JSON document must be UTF-8.
    const std::string valid = IsUtf8(text) ? std::string(text) : EncodeUtf8(DecodeUtf8(text));
    std::string out = "\"";
    static constexpr char kHex[] = "0123456789abcdef";
    for (size_t i = 0; i < valid.size(); ++i) {
        const char c = valid[i];
        const auto b = static_cast<unsigned char>(c);
        // DEL and the C1 controls (0xC2 0x80..0x9F) would reach a terminal
        // that shows the document; written as escapes they cannot act.
        const auto next = i + 1 < valid.size() ? static_cast<unsigned char>(valid[i + 1]) : 0;
        if (b == 0x7F || (b == 0xC2 && next >= 0x80 && next <= 0x9F)) {
            const unsigned code = b == 0x7F ? 0x7F : next;
            out += "\\u00";
            out += kHex[code >> 4];
            out += kHex[code & 15];
            i += b == 0x7F ? 0 : 1;
            continue;
        }
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\b': out += "\\b"; break;
        case '\f': out += "\\f"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default:
            if (b < 0x20) {
                out += "\\u00";
                out += kHex[b >> 4];
                out += kHex[b & 15];
            } else {
                out += c;
            }
        }
    }
    return out + "\"";
}

std::string ReportJson(const CheckReport& report)
{
    std::string out = "{\n  \"root\": " + JsonString(report.root) + ",\n";
    out += "  \"pages\": " + std::to_string(report.pages) + ",\n";
    out += "  \"stylesheets\": " + std::to_string(report.stylesheets) + ",\n";
    out += "  \"references\": " + std::to_string(report.references) + ",\n";
    out += "  \"external\": " + std::to_string(report.external) + ",\n";
    out += "  \"findings\": [";
    for (size_t i = 0; i < report.findings.size(); ++i) {
        const CheckFinding& f = report.findings[i];
        out += i ? ",\n    {" : "\n    {";
        out += "\"page\": " + JsonString(f.page);
        out += ", \"line\": " + std::to_string(f.line);
        out += ", \"lines\": [" + std::to_string(f.line);
        for (const int more : f.more)
            out += ", " + std::to_string(more);
        out += "], \"kind\": \"" + std::string(KindName(f.kind)) + "\"";
        out += ", \"reference\": " + JsonString(f.reference);
        out += ", \"message\": " + JsonString(f.message);
        out += ", \"target\": " + JsonString(f.target) + "}";
    }
    out += report.findings.empty() ? "],\n" : "\n  ],\n";
    out += "  \"summary\": [";
    const std::vector<KindSummary> summary = SummarizeFindings(report.findings);
    for (size_t i = 0; i < summary.size(); ++i) {
        const KindSummary& k = summary[i];
        out += i ? ",\n    {" : "\n    {";
        out += "\"kind\": \"" + std::string(KindName(k.kind)) + "\", \"findings\": " + std::to_string(k.findings) +
               ", \"pages\": " + std::to_string(k.pages) + "}";
    }
    out += summary.empty() ? "]\n}\n" : "\n  ]\n}\n";
    return out;
}

} // namespace qv
