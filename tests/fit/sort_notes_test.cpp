#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <numeric>
#include <random>

#include "fit/items.h"
#include "fit/together.h"

namespace {

using mid2nolt::fit::BasicItem;
using mid2nolt::fit::Items;
using mid2nolt::fit::Order;

// The notes' orders by start and by end, against a stable sort, for songs
// small and large enough for two threads to share the sort (whose halves
// must keep the song's order on a tie), with ticks whose high digits all
// agree (a place the sort skips) or differ, past 32 bits in the wide items.
template <typename Tick>
void checkSorts(std::size_t notes, std::uint64_t span, std::uint64_t base) {
    std::mt19937_64 random(notes + span);
    Items<Tick> items(notes);
    for (BasicItem<Tick>& item : items) {
        // Few distinct ticks, so that many notes tie.
        const std::uint64_t start = base + random() % span / 8 * 8;
        item.start = static_cast<Tick>(start);
        item.end = static_cast<Tick>(start + random() % 64);
    }
    Order byStart;
    Order byEnd;
    mid2nolt::fit::sortNotes(items, byStart, byEnd);
    Order expected(notes);
    std::iota(expected.begin(), expected.end(), 0u);
    std::stable_sort(expected.begin(), expected.end(), [&](std::uint32_t a, std::uint32_t b) {
        return items[a].start < items[b].start;
    });
    EXPECT_EQ(byStart, expected);
    std::iota(expected.begin(), expected.end(), 0u);
    std::stable_sort(expected.begin(), expected.end(),
                     [&](std::uint32_t a, std::uint32_t b) { return items[a].end < items[b].end; });
    EXPECT_EQ(byEnd, expected);
}

TEST(SortNotes, KeepTheSongsOrderOnATie) {
    constexpr std::size_t kShared = mid2nolt::fit::kNotesWorthSharing;
    constexpr std::uint64_t kWide = std::uint64_t{1} << 40;
    for (const std::size_t notes : {std::size_t{1000}, kShared - 1, kShared, 3 * kShared + 1}) {
        SCOPED_TRACE(notes);
        checkSorts<std::uint32_t>(notes, 1u << 30, 0);
        checkSorts<std::uint32_t>(notes, 1u << 12, 1u << 20);
        checkSorts<std::uint64_t>(notes, kWide, 5);
        checkSorts<std::uint64_t>(notes, 1u << 12, kWide);
    }
}

// Both jobs run, and what either throws is thrown once both have ended.
TEST(RunTogether, EndsBothAndThrowsWhatEitherThrew) {
    for (const bool shared : {false, true}) {
        for (const int throwing : {0, 1, 2}) {
            bool first = false;
            bool second = false;
            const auto run = [&] {
                mid2nolt::fit::runTogether(
                    shared,
                    [&] {
                        first = true;
                        if (throwing == 1) {
                            throw std::runtime_error("first");
                        }
                    },
                    [&] {
                        second = true;
                        if (throwing == 2) {
                            throw std::runtime_error("second");
                        }
                    });
            };
            if (throwing == 0) {
                EXPECT_NO_THROW(run());
            } else {
                EXPECT_THROW(run(), std::runtime_error);
            }
            EXPECT_TRUE(first);
            EXPECT_EQ(second, throwing != 1 || (shared && mid2nolt::fit::secondThread()));
        }
    }
}

}  // namespace
