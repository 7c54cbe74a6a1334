// Dealing one channel's notes into voices, step by step.

#include "arrange/dealer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

using mid2nolt::Dealer;
using mid2nolt::kLeftOut;

// A note of `key` starts at `tick`, or (release) the voice of note `note` ends there.
struct Step {
    std::uint64_t tick;
    int key;        // the note that starts; -1 for a release
    int note = -1;  // the note whose voice is released
};

struct DealCase {
    const char* name;
    std::uint32_t limit;
    std::vector<Step> steps;
    // Each note's voice in the order they start: its number, "c" when cut
    // short, "-" when left out.
    std::string voices;
    std::uint64_t leftOut = 0;
    std::uint64_t cutShort = 0;
};

void PrintTo(const DealCase& c, std::ostream* os) {
    *os << c.name;
}

class Deal : public testing::TestWithParam<DealCase> {};

TEST_P(Deal, GivesEachNoteItsVoice) {
    const DealCase& c = GetParam();
    Dealer dealer;
    dealer.reset(c.limit);
    mid2nolt::LargeVector<std::uint32_t> voiceOf;
    std::vector<mid2nolt::Cut> cuts;
    for (const Step& step : c.steps) {
        if (step.key < 0) {
            dealer.release(voiceOf[static_cast<std::size_t>(step.note)], step.tick);
            continue;
        }
        const auto note = static_cast<std::uint32_t>(voiceOf.size());
        voiceOf.push_back(kLeftOut);
        voiceOf[note] =
            dealer.place(note, static_cast<std::uint8_t>(step.key), step.tick, voiceOf, cuts, 0);
    }
    std::string voices;
    for (std::uint32_t note = 0; note < voiceOf.size(); ++note) {
        const bool cut = std::any_of(cuts.begin(), cuts.end(),
                                     [&](const mid2nolt::Cut& at) { return at.note == note; });
        voices += voices.empty() ? "" : " ";
        voices +=
            voiceOf[note] == kLeftOut ? "-" : std::to_string(voiceOf[note]) + (cut ? "c" : "");
    }
    EXPECT_EQ(voices, c.voices);
    EXPECT_EQ(dealer.leftOut, c.leftOut);
    EXPECT_EQ(dealer.cutShort, c.cutShort);
    EXPECT_EQ(cuts.size(), c.cutShort);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Deal,
    testing::Values(
        DealCase{"NewVoiceOnlyWhenNoneIsFree", 0, {{0, 60}, {0, 64}, {9, -1, 0}, {9, 72}}, "0 1 0"},
        // Of two free voices, the one whose last note is nearer in pitch.
        DealCase{"NearestFreeVoice",
                 0,
                 {{0, 60}, {0, 72}, {9, -1, 0}, {9, -1, 1}, {9, 70}, {9, 61}},
                 "0 1 1 0"},
        // As near above as below: the lower voice number.
        DealCase{"TieTakesTheLowerVoice",
                 0,
                 {{0, 64}, {0, 60}, {9, -1, 0}, {9, -1, 1}, {9, 62}},
                 "0 1 0"},
        DealCase{"AboveAllTakesTheTopVoice", 2, {{0, 60}, {0, 64}, {5, 67}}, "0 1c 1", 0, 1},
        DealCase{"BelowAllTakesTheBottomVoice", 2, {{0, 60}, {0, 64}, {5, 55}}, "0c 1 0", 0, 1},
        DealCase{"BetweenIsLeftOut", 2, {{0, 60}, {0, 64}, {5, 62}}, "0 1 -", 1},
        // A single voice keeps the upper line.
        DealCase{"OneVoiceKeepsTheUpperLine", 1, {{0, 60}, {5, 55}, {6, 65}}, "0c - 0", 1, 1},
        // A note struck at the same tick as the one it passes: that one is left out.
        DealCase{"PassedAtItsOwnStart", 1, {{0, 60}, {0, 65}}, "- 0", 1}),
    [](const testing::TestParamInfo<DealCase>& info) { return info.param.name; });

}  // namespace
