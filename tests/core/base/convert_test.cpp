#include "quorvane/base/Convert.h"
#include "quorvane/base/Error.h"
#include "quorvane/base/Text.h"

#include <gtest/gtest.h>

namespace {

TEST(StrToInt, ReadsDecimalWholeNumbersIn32Bits)
{
    EXPECT_EQ(qv::StrToInt("640"), 640);
    EXPECT_EQ(qv::StrToInt("-480"), -480);
    EXPECT_EQ(qv::StrToInt("+7"), 7);
    EXPECT_EQ(qv::StrToInt("0"), 0);
    EXPECT_EQ(qv::StrToInt("2147483647"), 2147483647);
    EXPECT_EQ(qv::StrToInt("-2147483648"), INT32_MIN);
}

TEST(StrToInt, AnythingElseNamesTheText)
{
    for (const char* bad : {"", "abc", "64O", " 640", "640 ", "2147483648", "-2147483649", "+", "-", "+-1",
                            "6.4", "0x10", "1e3"}) {
        try {
            qv::StrToInt(bad);
            ADD_FAILURE() << "accepted '" << bad << "'";
        } catch (const qv::Error& e) {
            EXPECT_EQ(std::string(e.what()), std::string("'") + bad + "' is not a valid integer value");
        }
    }
}

} // namespace

TEST(TerminalText, ShowsEveryControlEscapedAndKeepsTheRest)
{
    using qv::TerminalText;
    // C0 (ESC, BEL, CR, NUL), DEL and C1 written as UTF-8 (CSI, U+009B).
    EXPECT_EQ(TerminalText(std::string("a\x1b[2J\x07\r\0\x7f\xc2\x9b" "1m", 13)), "a\\x1b[2J\\x07\\x0d\\x00\\x7f\\x9b1m");
    // Text beyond ASCII passes: Latin-1 letters, U+00A0, CJK, emoji.
    EXPECT_EQ(TerminalText("caf\xc3\xa9 \xc2\xa0\xe6\x97\xa5\xf0\x9f\x98\x80"), "caf\xc3\xa9 \xc2\xa0\xe6\x97\xa5\xf0\x9f\x98\x80");
    // Bytes that are not UTF-8: a bare C1 byte, a cut sequence, an overlong
    // ESC and an encoded surrogate, each byte on its own.
    EXPECT_EQ(TerminalText("\x9b" "x\xe6\x97" "y\xc0\x9b\xed\xa0\x80"), "\\x9bx\\xe6\\x97y\\xc0\\x9b\\xed\\xa0\\x80");
    // A message keeps its own line breaks, "\r\n" as "\n", and nothing else.
    EXPECT_EQ(TerminalText("one\r\ntwo\n\tthree\rfour", "\n"), "one\ntwo\n\\x09three\\x0dfour");
    EXPECT_EQ(TerminalText("a\tb\nc", "\n\t"), "a\tb\nc");
    EXPECT_EQ(TerminalText("\xc2\x8a", "\n"), "\\x8a"); // C1 is never kept for a C0 of its low bits
}
