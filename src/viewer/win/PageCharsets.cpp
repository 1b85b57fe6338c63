#include "PageCharsets.h"

#include <algorithm>
#include <string>

#include <windows.h>

#include <libxml/encoding.h>

namespace viewer {

namespace {

// libxml2's converters take no context, so each code page gets a function
// of its own. Only whole characters are converted: a lead byte at the end
// waits for the next block. At most three bytes of UTF-8 come from one
// byte or pair, so the input is cut to what the output can take.
template <UINT CodePage>
int ToUtf8(unsigned char* out, int* outSize, const unsigned char* in, int* inSize)
{
    int take = std::min(*inSize, *outSize / 3);
    for (int at = 0; at < take; ++at) {
        if (IsDBCSLeadByteEx(CodePage, in[at])) {
            if (at + 1 >= take) {
                take = at;
                break;
            }
            ++at;
        }
    }
    int written = 0;
    if (take > 0) {
        const auto* bytes = reinterpret_cast<const char*>(in);
        std::wstring wide(static_cast<size_t>(take), L'\0');
        const int count = MultiByteToWideChar(CodePage, 0, bytes, take, wide.data(), take);
        written = count > 0 ? WideCharToMultiByte(CP_UTF8, 0, wide.data(), count, reinterpret_cast<char*>(out),
                                                  *outSize, nullptr, nullptr)
                            : 0;
        if (written <= 0) {
            *inSize = 0;
            *outSize = 0;
            return -2;
        }
    }
    *inSize = take;
    *outSize = written;
    return written;
}

struct Charset {
    const char* name;
    UINT codePage;
    xmlCharEncodingInputFunc convert;
    const char* aliases[6];
};

// The names browsers know these by (WHATWG's encoding labels).
const Charset kCharsets[] = {
    {"windows-1250", 1250, ToUtf8<1250>, {"cp1250", "x-cp1250"}},
    {"windows-1251", 1251, ToUtf8<1251>, {"cp1251", "x-cp1251"}},
    {"windows-1253", 1253, ToUtf8<1253>, {"cp1253", "x-cp1253"}},
    {"windows-1254", 1254, ToUtf8<1254>, {"cp1254", "x-cp1254"}},
    {"windows-1255", 1255, ToUtf8<1255>, {"cp1255", "x-cp1255"}},
    {"windows-1256", 1256, ToUtf8<1256>, {"cp1256", "x-cp1256"}},
    {"windows-1257", 1257, ToUtf8<1257>, {"cp1257", "x-cp1257"}},
    {"windows-1258", 1258, ToUtf8<1258>, {"cp1258", "x-cp1258"}},
    {"windows-874", 874, ToUtf8<874>, {"dos-874", "tis-620"}},
    {"koi8-r", 20866, ToUtf8<20866>, {"koi8", "koi", "cskoi8r"}},
    {"koi8-u", 21866, ToUtf8<21866>, {"koi8-ru"}},
    {"Shift_JIS", 932, ToUtf8<932>, {"sjis", "ms_kanji", "windows-31j", "x-sjis", "csshiftjis", "ms932"}},
    {"gbk", 936, ToUtf8<936>, {"gb2312", "cp936", "x-gbk", "csgb2312", "chinese"}},
    {"big5", 950, ToUtf8<950>, {"big5-hkscs", "cn-big5", "x-x-big5", "csbig5"}},
    {"euc-kr", 949, ToUtf8<949>, {"ks_c_5601-1987", "windows-949", "cseuckr", "korean"}},
};

} // namespace

void AddPageCharsets()
{
    static const bool added = [] {
        xmlInitParser();
        for (const Charset& charset : kCharsets) {
            // A code page this Windows lacks is left to libxml2's own reading.
            if (!IsValidCodePage(charset.codePage))
                continue;
            xmlNewCharEncodingHandler(charset.name, charset.convert, nullptr);
            for (const char* alias : charset.aliases)
                if (alias)
                    xmlAddEncodingAlias(charset.name, alias);
        }
        return true;
    }();
    (void)added;
}

} // namespace viewer
