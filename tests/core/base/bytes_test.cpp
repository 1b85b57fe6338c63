#include "TestSupport.h"
#include "quorvane/base/LittleEndian.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>
#include <vector>

using namespace qv;
using qvtest::FailureOf;

TEST(LittleEndian, FieldsAtOffsetsAndFromTheCursor)
{
    const std::vector<uint8_t> bytes = {0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0xFE, 0xFF, 0xFF, 0xFF,
                                        0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0xF0, 0x3F};
    const LeReader at(bytes);
    EXPECT_EQ(at.Get<uint16_t>(1), 0x0302);
    EXPECT_EQ(at.Get<uint32_t>(0), 0x04030201u);
    EXPECT_EQ(at.Get<uint64_t>(0), 0x0807060504030201u);
    EXPECT_EQ(at.Get<int32_t>(8), -2);
    EXPECT_EQ(at.Get<char16_t>(8), u'\xFFFE');
    EXPECT_EQ(at.Get<double>(12), 1.0);

    LeReader cursor(bytes);
    EXPECT_EQ(cursor.Read<uint8_t>(), 0x01);
    EXPECT_EQ(cursor.Read<uint16_t>(), 0x0302);
    EXPECT_EQ(cursor.ReadBytes(5, "x").size(), 5u);
    EXPECT_EQ(cursor.Read<int32_t>(), -2);
    EXPECT_EQ(cursor.Position(), 12u);
    cursor.Seek(20, "the end");
    EXPECT_THROW(cursor.Read<uint8_t>(), ByteRangeError);
}

// Every read is checked first, with sums that cannot wrap, and the message
// names the offset in the file.
TEST(LittleEndian, ReadsPastTheEndFailNamingTheOffset)
{
    const std::vector<uint8_t> bytes(8);
    const LeReader data(bytes, 0x100, "the header");
    EXPECT_EQ(FailureOf([&] { data.Get<uint32_t>(6, "the count"); }),
              "the count runs past the end of the header (offset 0x106)");
    EXPECT_FALSE(data.Has(std::numeric_limits<uint64_t>::max(), 2));
    EXPECT_FALSE(data.Has(4, std::numeric_limits<uint64_t>::max() - 2));
    EXPECT_THROW(data.Bytes(std::numeric_limits<uint64_t>::max() - 1, 4, "x"), ByteRangeError);
    try {
        data.Get<uint64_t>(1);
        ADD_FAILURE();
    } catch (const ByteRangeError& e) {
        EXPECT_EQ(e.offset(), 0x101u);
    }

    // A reader given its own failure reports through it.
    static std::string problem;
    static uint64_t where = 0;
    const LeReader own(bytes, 0x40, "the section", [](const std::string& p, uint64_t offset) {
        problem = p;
        where = offset;
        throw Error("own");
    });
    EXPECT_EQ(FailureOf([&] { own.Require(7, 2, "the name"); }), "own");
    EXPECT_EQ(problem, "the name runs past the end of the section");
    EXPECT_EQ(where, 0x47u);
}

TEST(LittleEndian, PutAtOffsetsAndAppend)
{
    std::vector<uint8_t> out(12);
    PutLE<uint16_t>(out, 0, 0xBBAA);
    PutLE<int32_t>(out, 2, -2);
    PutLE(out, 6, char16_t{0x1234});
    EXPECT_EQ(out, (std::vector<uint8_t>{0xAA, 0xBB, 0xFE, 0xFF, 0xFF, 0xFF, 0x34, 0x12, 0, 0, 0, 0}));
    EXPECT_THROW(PutLE<uint32_t>(out, 9, 1), Error);
    EXPECT_EQ(out[9], 0);

    std::string text;
    AppendLE<uint32_t>(text, 0x44434241);
    AppendLE(text, 1.0);
    EXPECT_EQ(text, std::string("ABCD\0\0\0\0\0\0\xF0\x3F", 12));
}
