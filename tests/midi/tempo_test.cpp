// Ticks in seconds by a tempo map.

#include "midi/tempo.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

using mid2nolt::SecondsMap;
using mid2nolt::TempoChange;

struct SecondsCase {
    const char* name;
    std::vector<TempoChange> changes;
    double tick;
    double seconds;
};

void PrintTo(const SecondsCase& c, std::ostream* os) {
    *os << c.name;
}

class Seconds : public testing::TestWithParam<SecondsCase> {};

// At 96 ticks a quarter note.
TEST_P(Seconds, AreTimedFromTheLastChangeAtOrBeforeTheTick) {
    const SecondsCase& c = GetParam();
    const SecondsMap map(c.changes, 96);
    EXPECT_DOUBLE_EQ(map.secondsAt(c.tick), c.seconds);
    // Notes timed in place, from step to step, agree with each tick alone.
    double starts[] = {0, c.tick};
    double ends[] = {c.tick, c.tick};
    map.toSeconds(starts, ends, 2);
    EXPECT_DOUBLE_EQ(ends[0], c.seconds);
    EXPECT_DOUBLE_EQ(starts[1], c.seconds);
}

std::vector<TempoChange> everyQuarter(int count) {
    std::vector<TempoChange> changes;
    for (int i = 0; i < count; ++i) {
        changes.push_back({static_cast<std::uint64_t>(96 * i), 250000u * (1 + i % 2)});
    }
    return changes;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Seconds,
    testing::Values(SecondsCase{"DefaultTempoBeforeAnyChange", {{192, 1000000}}, 96, 0.5},
                    SecondsCase{"AtTheChange", {{96, 1000000}}, 96, 0.5},
                    SecondsCase{"AfterTheChange", {{96, 1000000}}, 240, 2.0},
                    // A change at tick 0 replaces the default from the start.
                    SecondsCase{"ChangeAtTheStart", {{0, 250000}}, 96, 0.25},
                    // Past the few steps looked at one by one: a search.
                    SecondsCase{"FarAhead", everyQuarter(40), 96 * 39 + 48, 14.75},
                    // Two changes at one tick: the later in the map holds.
                    SecondsCase{"TwoAtOneTick", {{96, 2000000}, {96, 1000000}}, 192, 1.5}),
    [](const testing::TestParamInfo<SecondsCase>& info) { return info.param.name; });

// One song's map from the changes of its tracks: earlier tracks first at one tick.
TEST(OrderByTick, KeepsTheOrderOfChangesAtOneTick) {
    std::vector<TempoChange> changes = {{96, 1}, {0, 2}, {96, 3}, {48, 4}};
    mid2nolt::orderByTick(changes);
    std::vector<std::uint32_t> tempos;
    for (const TempoChange& change : changes) {
        tempos.push_back(change.tempo);
    }
    EXPECT_EQ(tempos, (std::vector<std::uint32_t>{2, 4, 1, 3}));
    // A later track's, merged into a map in order: after the earlier at one tick.
    changes.insert(changes.end(), {{0, 5}, {96, 6}, {200, 7}});
    mid2nolt::orderByTick(changes, 4);
    tempos.clear();
    for (const TempoChange& change : changes) {
        tempos.push_back(change.tempo);
    }
    EXPECT_EQ(tempos, (std::vector<std::uint32_t>{2, 5, 4, 1, 3, 6, 7}));
}

}  // namespace
