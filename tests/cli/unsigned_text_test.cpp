// The frequency reader against 64-bit glibc's own sscanf("%u"), whose reading
// every platform's build must give.

#include <gtest/gtest.h>

#include <cstdio>

#include "cli/unsigned_text.h"

namespace {

TEST(ReadUnsigned, AgreesWithGlibcScanf) {
    // The reader gives 64-bit glibc's reading on every platform; a C library
    // with a 32-bit long saturates differently past 2^32 and is no reference.
    if (sizeof(unsigned long) != 8) {
        GTEST_SKIP() << "sscanf here reads through a 32-bit unsigned long";
    }
    const char* const texts[] = {
        "60",
        " 60",
        "\t\n\v\f\r7",
        "+60",
        "-1",
        "60x",
        "0",
        "007",
        "",
        " ",
        "-",
        "+",
        "- 5",
        "x5",
        "0x10",
        "4294967295",
        "4294967296",
        "-4294967296",
        "18446744073709551615",
        "18446744073709551616",
        "-18446744073709551615",
        "99999999999999999999",
        "-99999999999999999999",
        "123456789012345678901234567890",
    };
    for (const char* text : texts) {
        unsigned expected = 777;
        const bool expectedRead = std::sscanf(text, "%u", &expected) == 1;
        std::uint32_t value = 777;
        EXPECT_EQ(mid2nolt::readUnsigned(text, value), expectedRead) << '"' << text << '"';
        EXPECT_EQ(value, expected) << '"' << text << '"';
    }
}

}  // namespace
