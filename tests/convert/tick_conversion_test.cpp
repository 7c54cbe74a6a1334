#include "convert/tick_conversion.h"

#include <gtest/gtest.h>

#include <vector>

#include "convert/conversion_state.h"
#include "support/conversion_fixture.h"

namespace {

using mid2nolt::conversionState;
using mid2nolt::toDriverTicks;
using testing_support::scriptText;
using testing_support::startRun;

struct CarryCase {
    const char* name;
    std::uint32_t tempo;
    std::uint16_t division;
    std::uint32_t frequency;
    std::vector<std::int64_t> spans;
    std::vector<std::uint32_t> ticks;
    double fractionAfter;
};

void PrintTo(const CarryCase& c, std::ostream* os) {
    *os << c.name;
}

class CarriedConversion : public testing::TestWithParam<CarryCase> {};

TEST_P(CarriedConversion, PaysOutWholeTicksAsTheFractionFills) {
    const CarryCase& c = GetParam();
    startRun(c.division, c.frequency);
    conversionState.tempo = c.tempo;
    std::vector<std::uint32_t> got;
    for (std::int64_t span : c.spans) {
        got.push_back(toDriverTicks(span));
    }
    EXPECT_EQ(got, c.ticks);
    EXPECT_NEAR(conversionState.fraction, c.fractionAfter, 1e-9);
}

const CarryCase kCarryCases[] = {
    {"WholeSpans", 500000, 96, 60, {96, 384}, {30, 120}, 0.0},
    {"QuarterTicks", 500000, 96, 60, {1, 1, 1, 1}, {0, 0, 0, 1}, 0.25},
    // A MIDI tick is exactly 0.3125 driver ticks: the carry reaching exactly
    // one pays out its tick, in one step or over several.
    {"CarryReachesExactlyOne", 500000, 96, 60, {8, 8}, {2, 3}, 0.0},
    {"CarryReachesExactlyOneOverSpans", 500000, 96, 60, {4, 4, 4, 4}, {1, 1, 1, 2}, 0.0},
    {"Tempo428571", 428571, 96, 60, {96, 96, 96, 96}, {25, 26, 26, 25}, 0.85704},
    // 0.5 / 96 * 160 * 60 is 49.999999999999993 in this order of operations.
    {"OrderOfOperations", 500000, 96, 60, {160}, {49}, 0.999999999999993},
    {"TopBitDivisionIsACount", 500000, 0xE728, 60, {59176}, {30}, 0.0},
    // No finite answer: nothing paid, nothing carried.
    {"DivisionZero", 500000, 0, 60, {96, 0}, {0, 0}, 0.0},
    {"TempoZero", 0, 96, 60, {96}, {0}, 0.0},
    {"HugeSpanOutOfRange", 0xFFFFFF, 1, 0xFFFFFFFF, {INT64_MAX}, {0}, 0.0},
    {"WrapsToLow32Bits", 500000, 96, 60, {96LL << 27}, {0xF0000000u}, 0.0},
};

INSTANTIATE_TEST_SUITE_P(Cases, CarriedConversion, testing::ValuesIn(kCarryCases),
                         [](const auto& info) { return std::string(info.param.name); });

// One emission per step: the note event recorded before it picks the line.
struct Step {
    std::uint64_t time;
    char kind;  // 'n' note-on, 'f' note-off, '-' nothing recorded after the emission
    std::uint8_t key;
    std::uint8_t velocity;
};

std::string emitAll(const std::vector<Step>& steps) {
    return scriptText([&](mid2nolt::ScriptStream& out) {
        for (const Step& step : steps) {
            conversionState.absTime = step.time;
            mid2nolt::emitLine(out);
            if (step.kind == 'n') {
                conversionState.pendingKey = step.key;
                conversionState.pendingVelocity = step.velocity;
                conversionState.noteOnPending = true;
            } else if (step.kind == 'f') {
                conversionState.noteOffPending = true;
            }
        }
    });
}

struct EmitCase {
    const char* name;
    std::vector<Step> steps;
    std::string lines;
};

void PrintTo(const EmitCase& c, std::ostream* os) {
    *os << c.name;
}

class Emission : public testing::TestWithParam<EmitCase> {};

TEST_P(Emission, WritesTheLinesOfTheRecordedEvents) {
    startRun(96);
    EXPECT_EQ(emitAll(GetParam().steps), GetParam().lines);
}

const EmitCase kEmitCases[] = {
    {"WaitThenNote", {{0, 'n', 60, 100}, {96, 'f', 0, 0}}, "\twait 0\n\tc.5 30\n"},
    {"RestAfterNoteOff", {{0, 'f', 0, 0}, {96, '-', 0, 0}}, "\twait 0\n\trest 30\n"},
    {"SilentNoteOnSameKeyRests",
     {{0, 'n', 60, 100}, {96, 'n', 60, 0}, {192, '-', 0, 0}},
     "\twait 0\n\tc.5 30\n\trest 30\n"},
    {"SilentNoteOnOtherKeyIsANote",
     {{0, 'n', 60, 100}, {96, 'n', 61, 0}, {192, '-', 0, 0}},
     "\twait 0\n\tc.5 30\n\tcs5 30\n"},
    // lastKey starts at 0, so a silent key 0 first is a rest.
    {"SilentKeyZeroFirst", {{0, 'n', 0, 0}, {96, '-', 0, 0}}, "\twait 0\n\trest 30\n"},
    {"ChordNoteOfZeroTicks",
     {{0, 'n', 60, 100}, {0, 'n', 64, 100}, {96, '-', 0, 0}},
     "\twait 0\n\tc.5 0\n\te.5 30\n"},
    {"NoteNames",
     {{0, 'n', 0, 1}, {0, 'n', 127, 1}, {0, 'n', 200, 1}, {0, '-', 0, 0}},
     "\twait 0\n\tc.0 0\n\tg.10 0\n\tgs16 0\n"},
    // 300 driver ticks since the last mark at 120 a bar: two bars, the rest not carried.
    {"SeveralBarsInOneSpan",
     {{0, 'n', 60, 1}, {960, 'n', 62, 1}, {1344, '-', 0, 0}},
     "\twait 0\n\tc.5 300\n; Ticks 300\n\td.5 120\n; Ticks 120\n"},
};

INSTANTIATE_TEST_SUITE_P(Cases, Emission, testing::ValuesIn(kEmitCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(BarAccounting, CountsBarsAndAsksForAHeading) {
    startRun(96);
    emitAll({{0, 'n', 60, 1}, {960, '-', 0, 0}});
    EXPECT_EQ(conversionState.barNumber, 2u);
    EXPECT_EQ(conversionState.barMarkTicks, 300u);
    EXPECT_TRUE(conversionState.barHeaderPending);
}

// The bar length is taken whole, outside the carry: the spans keep their own
// fractions, and a bar of 102.857 driver ticks is passed at 102.
TEST(BarAccounting, BarLengthLeavesTheCarryAlone) {
    startRun(96);
    conversionState.tempo = 428571;
    EXPECT_EQ(emitAll({{0, 'n', 60, 1},
                       {96, 'n', 60, 1},
                       {192, 'n', 60, 1},
                       {288, 'n', 60, 1},
                       {384, 'n', 60, 1}}),
              "\twait 0\n\tc.5 25\n\tc.5 26\n\tc.5 26\n\tc.5 25\n; Ticks 102\n");
}

struct BarCase {
    const char* name;
    std::uint16_t division;
    std::uint8_t beatsPerBar;
    std::uint8_t beatUnit;
    std::uint32_t frequency;
    std::uint32_t barTicks;
};

void PrintTo(const BarCase& c, std::ostream* os) {
    *os << c.name;
}

class BarLength : public testing::TestWithParam<BarCase> {};

// Measured from outside: an emission finds a bar passed exactly when the
// driver ticks since the last mark reach the bar length.
TEST_P(BarLength, TruncatesToWholeTicks) {
    const BarCase& c = GetParam();
    startRun(c.division, c.frequency);
    conversionState.beatsPerBar = c.beatsPerBar;
    conversionState.beatUnit = c.beatUnit;
    const std::string marks = scriptText([&](mid2nolt::ScriptStream& out) {
        conversionState.driverTicks = c.barTicks - 1;
        mid2nolt::emitLine(out);
        conversionState.driverTicks = c.barTicks;
        mid2nolt::emitLine(out);
    });
    EXPECT_EQ(marks, c.barTicks == 0
                         ? "\twait 0\n\twait 0\n"
                         : "\twait 0\n\twait 0\n; Ticks " + std::to_string(c.barTicks) + "\n");
}

const BarCase kBarCases[] = {
    {"FourFour", 96, 4, 4, 60, 120},
    // Three eighths at division 25: 37.5 MIDI ticks truncated to 37, 44.4 driver ticks to 44.
    {"ThreeEighthsTruncatedInMidiTicks", 25, 3, 8, 60, 44},
    {"NumeratorZero", 96, 0, 4, 60, 0},
    {"LargestProduct", 65535, 255, 1, 60, 30600},
};

INSTANTIATE_TEST_SUITE_P(Cases, BarLength, testing::ValuesIn(kBarCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(BarAccounting, NoBarLengthMeansNoTickMark) {
    startRun(96, 0);
    EXPECT_EQ(emitAll({{0, 'n', 60, 1}, {96000, '-', 0, 0}}), "\twait 0\n\tc.5 0\n");
    EXPECT_EQ(conversionState.barNumber, 0u);
}

}  // namespace
