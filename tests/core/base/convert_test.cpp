#include "quorvane/base/Convert.h"
#include "quorvane/base/Error.h"

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
