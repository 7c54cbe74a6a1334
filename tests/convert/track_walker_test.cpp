#include "convert/track_walker.h"

#include <gtest/gtest.h>

#include "convert/conversion_state.h"
#include "support/conversion_fixture.h"

namespace {

using mid2nolt::conversionState;
using smf::Track;
using testing_support::songOf;
using testing_support::startRun;
using testing_support::walkText;

const std::string kEmpty = "\tend\n; Total Track Ticks : 0\n";

TEST(WalkTrack, TakesOnlyItsChannel) {
    const auto song =
        songOf(0, 96, {{0x00, 0x90, 0x3C, 0x64, 0x60, 0x80, 0x3C, 0x40, 0x00, 0xFF, 0x2F, 0x00}});
    startRun(96);
    EXPECT_EQ(walkText(*song, 0, false, 0),
              "\twait 0\n\tc.5 30\n\tend\n; Total Track Ticks : 30\n");
    EXPECT_EQ(walkText(*song, 0, false, 1), kEmpty);
}

struct WalkCase {
    const char* name;
    smf::Bytes track;
    std::string script;
};

void PrintTo(const WalkCase& c, std::ostream* os) {
    *os << c.name;
}

class Walk : public testing::TestWithParam<WalkCase> {};

TEST_P(Walk, WritesBodyAndTrailer) {
    const auto song = songOf(1, 96, {GetParam().track});
    startRun(96);
    EXPECT_EQ(walkText(*song, 0, true), GetParam().script);
}

const std::string kBars1To3 = "; ---- Bars 1 to 3 ----\n;****************\n\n";

const WalkCase kWalkCases[] = {
    {"EmptyChunk", {}, kEmpty},
    {"NoEndOfTrack", Track().noteOn(0, 0, 60, 1).noteOff(96, 0, 60).bytes(),
     "\twait 0\n\tc.5 30\n\tend\n; Total Track Ticks : 30\n"},
    {"NothingAfterEndOfTrack",
     Track().noteOn(0, 0, 60, 1).end().noteOff(96, 0, 60).text(0, 1, "x").bytes(),
     "\twait 0\n" + kEmpty},
    {"HeadingsForOneAndSeveralBars",
     Track()
         .noteOn(0, 0, 60, 1)
         .noteOn(1152, 0, 60, 1)
         .noteOn(384, 0, 60, 1)
         .noteOn(1152, 0, 60, 1)
         .end()
         .bytes(),
     "\twait 0\n\tc.5 360\n; Ticks 360\n" + kBars1To3 +
         "\tc.5 120\n; Ticks 120\n; ---- Bar 4 ----\n;****************\n\n"
         "\tc.5 360\n; Ticks 360\n; ---- Bars 5 to 7 ----\n;****************\n\n\tend\n; Total "
         "Track Ticks : 840\n"},
    // A due heading comes before the next event of any kind.
    {"HeadingBeforeText",
     Track().noteOn(0, 0, 60, 1).noteOff(1152, 0, 60).text(0, 1, "t").end().bytes(),
     "\twait 0\n\tc.5 360\n; Ticks 360\n" + kBars1To3 + "; t\n\tend\n; Total Track Ticks : 360\n"},
    // ...but not when the chunk ends with no further event.
    {"NoHeadingWithoutFurtherEvent", Track().noteOn(0, 0, 60, 1).noteOff(1152, 0, 60).bytes(),
     "\twait 0\n\tc.5 360\n; Ticks 360\n\tend\n; Total Track Ticks : 360\n"},
    // ...and it is written after a complete delta time even if the status is missing.
    {"HeadingBeforeMissingStatus",
     Track().noteOn(0, 0, 60, 1).noteOff(1152, 0, 60).delta(5).bytes(),
     "\twait 0\n\tc.5 360\n; Ticks 360\n" + kBars1To3 + "\tend\n; Total Track Ticks : 360\n"},
    // A tempo change times the whole span in which it falls.
    {"TempoTimesWholeSpan",
     Track().noteOn(0, 0, 60, 1).tempo(48, 1000000).noteOff(48, 0, 60).end().bytes(),
     "\twait 0\n\tc.5 60\n\tend\n; Total Track Ticks : 60\n"},
    {"SysexAndSystemMessagesSkipped",
     Track()
         .noteOn(0, 0, 60, 1)
         .sysex(48, {1, 2, 3, 0xF7})
         .raw({0, 0xF1, 0, 0xFE})
         .noteOff(48, 0, 60)
         .end()
         .bytes(),
     "\twait 0\n\tc.5 30\n\tend\n; Total Track Ticks : 30\n"},
    {"CutOffNoteWritesNothing", Track().noteOn(0, 0, 60, 1).raw({0x60, 0x80, 0x3C}).bytes(),
     "\twait 0\n" + kEmpty},
};

INSTANTIATE_TEST_SUITE_P(Cases, Walk, testing::ValuesIn(kWalkCases),
                         [](const auto& info) { return std::string(info.param.name); });

struct MetaCase {
    const char* name;
    smf::Bytes track;
    std::uint32_t tempo;
    std::uint8_t beatsPerBar;
    std::uint8_t beatUnit;
};

void PrintTo(const MetaCase& c, std::ostream* os) {
    *os << c.name;
}

class MetaEvents : public testing::TestWithParam<MetaCase> {};

// What a walk leaves in the musical context, which the next walk inherits.
TEST_P(MetaEvents, SetTheMusicalContext) {
    const auto song = songOf(1, 96, {GetParam().track});
    startRun(96);
    walkText(*song, 0, true);
    EXPECT_EQ(conversionState.tempo, GetParam().tempo);
    EXPECT_EQ(conversionState.beatsPerBar, GetParam().beatsPerBar);
    EXPECT_EQ(conversionState.beatUnit, GetParam().beatUnit);
}

const MetaCase kMetaCases[] = {
    {"Tempo", {0, 0xFF, 0x51, 3, 0x09, 0x27, 0xC0}, 600000, 4, 4},
    {"SixEight", {0, 0xFF, 0x58, 4, 6, 3, 0x18, 8}, 500000, 6, 8},
    {"ExponentAboveSevenIsSeven", {0, 0xFF, 0x58, 4, 0, 255, 0x18, 8}, 500000, 0, 128},
    {"TempoCutOffIgnored", {0, 0xFF, 0x51, 3, 0x09, 0x27}, 500000, 4, 4},
    {"TempoWithLengthPastEndApplies", {0, 0xFF, 0x51, 9, 0x09, 0x27, 0xC0}, 600000, 4, 4},
    {"TimeSignatureCutOffIgnored", {0, 0xFF, 0x58, 4, 3}, 500000, 4, 4},
    {"NothingAfterEndOfTrack",
     {0, 0xFF, 0x2F, 0, 0, 0xFF, 0x51, 3, 0x09, 0x27, 0xC0},
     500000,
     4,
     4},
};

INSTANTIATE_TEST_SUITE_P(Cases, MetaEvents, testing::ValuesIn(kMetaCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(WalkTrack, FormatTwoStartsEveryWalkFromDefaults) {
    for (std::uint16_t format : {1, 2}) {
        const auto song =
            songOf(format, 96, {Track().noteOn(0, 0, 60, 1).noteOff(96, 0, 60).bytes()});
        startRun(96);
        conversionState.tempo = 1000000;
        conversionState.beatsPerBar = 1;
        EXPECT_EQ(walkText(*song, 0, true),
                  format == 2
                      ? "\twait 0\n\tc.5 30\n\tend\n; Total Track Ticks : 30\n"
                      : "\twait 0\n\tc.5 60\n; Ticks 60\n\tend\n; Total Track Ticks : 60\n");
    }
}

TEST(WalkTrack, MissingDataFailsWithoutTrailer) {
    auto song = songOf(1, 96, {{}});
    song->tracks[0].data = nullptr;
    startRun(96);
    testing::internal::CaptureStderr();
    std::int32_t result = 0;
    const std::string text = testing_support::scriptText(
        [&](mid2nolt::ScriptStream& out) { result = mid2nolt::walkTrack(*song, out, 0); });
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "ERROR- Unexptected End of Source Data\n");
    EXPECT_EQ(result, -1);
    EXPECT_EQ(text, "");
}

}  // namespace
