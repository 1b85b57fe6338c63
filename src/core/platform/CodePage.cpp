#include "quorvane/platform/CodePage.h"

#include "quorvane/base/Error.h"
#include "quorvane/base/LittleEndian.h"
#include "quorvane/base/Utf8.h"

#include <array>
#include <cstdlib>
#include <iconv.h>
#include <memory>
#include <mutex>
#include <unordered_map>

namespace qv::codepage {
namespace {

constexpr char32_t kNone = 0xFFFFFFFF;

struct Table {
    int codePage = 1252;
    std::array<char32_t, 256> toUnicode{};
    std::unordered_map<char32_t, uint8_t> fromUnicode;

    void Index()
    {
        fromUnicode.clear();
        for (int b = 255; b >= 0; --b)
            if (toUnicode[b] != kNone)
                fromUnicode[toUnicode[b]] = static_cast<uint8_t>(b);
    }
};

Table Make1252()
{
    Table t;
    for (int b = 0; b < 256; ++b)
        t.toUnicode[b] = FromWindows1252(static_cast<unsigned char>(b));
    t.Index();
    return t;
}

Table MakeWithIconv(int codePage)
{
    const std::string name = "CP" + std::to_string(codePage);
    iconv_t cd = iconv_open("UTF-32LE", name.c_str());
    if (cd == reinterpret_cast<iconv_t>(-1))
        throw Error("Unsupported code page " + std::to_string(codePage));
    Table t;
    t.codePage = codePage;
    for (int b = 0; b < 256; ++b) {
        char in = static_cast<char>(b);
        unsigned char out[8] = {};
        char* inp = &in;
        char* outp = reinterpret_cast<char*>(out);
        size_t inLeft = 1, outLeft = sizeof out;
        iconv(cd, nullptr, nullptr, nullptr, nullptr);
        if (iconv(cd, &inp, &inLeft, &outp, &outLeft) == static_cast<size_t>(-1) || outLeft != 4) {
            t.toUnicode[b] = b < 0x80 ? static_cast<char32_t>(b) : kNone;
            continue;
        }
        t.toUnicode[b] = LeReader(out).Get<char32_t>(0);
    }
    iconv_close(cd);
    t.Index();
    return t;
}

Table& Current()
{
    static Table table = [] {
        if (const char* env = std::getenv("QUORVANE_ANSI_CODEPAGE")) {
            const int cp = std::atoi(env);
            if (cp > 0 && cp != 1252) {
                try {
                    return MakeWithIconv(cp);
                } catch (const Error&) {
                    // An unknown code page in the environment falls back to
                    // the default rather than stopping the program.
                }
            }
        }
        return Make1252();
    }();
    return table;
}

} // namespace

int AnsiCodePage() { return Current().codePage; }

void SetAnsiCodePage(int codePage)
{
    Current() = codePage == 1252 ? Make1252() : MakeWithIconv(codePage);
}

std::string ToAnsi(std::string_view utf8, size_t maxUtf16Units)
{
    const Table& t = Current();
    std::string out;
    out.reserve(utf8.size());
    size_t units = 0;
    for (char32_t cp : DecodeUtf8(utf8)) {
        units += cp >= 0x10000 ? 2 : 1;
        if (units > maxUtf16Units)
            break;
        const auto it = t.fromUnicode.find(cp);
        out.push_back(it == t.fromUnicode.end() ? '?' : static_cast<char>(it->second));
    }
    return out;
}

std::string FromAnsi(std::string_view ansi)
{
    const Table& t = Current();
    std::u32string cps;
    cps.reserve(ansi.size());
    for (char c : ansi) {
        const char32_t cp = t.toUnicode[static_cast<unsigned char>(c)];
        cps.push_back(cp == kNone ? U'?' : cp);
    }
    return EncodeUtf8(cps);
}

bool CodePageHolds(int codePage, char32_t cp)
{
    if (cp == kNone)
        return false;
    // Tables of other code pages are made once and kept: a site's names
    // are tried against each of them.
    static std::mutex mutex;
    static std::unordered_map<int, std::unique_ptr<Table>> tables;
    std::lock_guard lock(mutex);
    auto& table = tables[codePage];
    if (!table) {
        try {
            table = std::make_unique<Table>(codePage == 1252 ? Make1252() : MakeWithIconv(codePage));
        } catch (const Error&) {
            table = std::make_unique<Table>();
        }
    }
    return table->fromUnicode.count(cp) != 0;
}

int CodePageOfLanguage(uint16_t languageId)
{
    const int primary = languageId & 0x3FF;
    const int sub = languageId >> 10;
    switch (primary) {
    case 0x05: case 0x0E: case 0x15: case 0x18: case 0x1B: case 0x1C: case 0x24: return 1250;
    case 0x1A: return (sub == 3 || sub == 7) ? 1251 : 1250; // Serbian Cyrillic variants
    case 0x02: case 0x19: case 0x22: case 0x23: case 0x2F: case 0x3F: case 0x40: case 0x44: case 0x50: return 1251;
    case 0x08: return 1253;
    case 0x1F: case 0x2C: case 0x43: return 1254;
    case 0x0D: return 1255;
    case 0x01: case 0x20: case 0x29: return 1256;
    case 0x25: case 0x26: case 0x27: return 1257;
    case 0x2A: return 1258;
    case 0x1E: return 874;
    case 0x11: return 932;
    case 0x12: return 949;
    case 0x04: return (sub == 2 || sub == 4) ? 936 : 950;
    case 0x03: case 0x06: case 0x07: case 0x09: case 0x0A: case 0x0B: case 0x0C: case 0x0F:
    case 0x10: case 0x13: case 0x14: case 0x16: case 0x1D: case 0x21: case 0x2D: case 0x36:
    case 0x38: case 0x3E: case 0x41: case 0x56: case 0x62: case 0x83:
        return 1252;
    default: return AnsiCodePage();
    }
}

} // namespace qv::codepage
