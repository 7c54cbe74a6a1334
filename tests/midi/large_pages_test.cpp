#include "midi/large_pages.h"

#include <gtest/gtest.h>

#include <cstdint>

namespace mid2nolt {
namespace {

constexpr std::size_t kMiB = std::size_t{1} << 20;

// Arrays on either side of the size from which they take large pages, grown
// across it and shrunk back: every element reads back as written, and each
// block is freed the way it was taken (the sanitizer builds check that).
TEST(LargePages, HoldWhatIsWrittenAcrossTheThreshold) {
    for (const std::size_t bytes :
         {std::size_t{1}, kMiB - 1, kMiB, 2 * kMiB, 2 * kMiB + 1, 5 * kMiB + 3}) {
        SCOPED_TRACE(bytes);
        LargeVector<std::uint32_t> values;
        const std::size_t count = bytes / sizeof(std::uint32_t) + 1;
        for (std::size_t i = 0; i < count; ++i) {
            values.push_back(static_cast<std::uint32_t>(i * 2654435761U));
        }
        LargeVector<std::uint32_t> copy = values;
        values.clear();
        values.shrink_to_fit();
        ASSERT_EQ(copy.size(), count);
        for (std::size_t i = 0; i < count; ++i) {
            ASSERT_EQ(copy[i], static_cast<std::uint32_t>(i * 2654435761U)) << i;
        }
    }
}

}  // namespace
}  // namespace mid2nolt
