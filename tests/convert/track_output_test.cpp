#include "convert/track_output.h"

#include <gtest/gtest.h>

#include "support/conversion_fixture.h"

namespace {

using smf::Track;
using testing_support::songOf;

struct ScanCase {
    const char* name;
    smf::Bytes track;
    std::uint16_t mask;
};

void PrintTo(const ScanCase& c, std::ostream* os) {
    *os << c.name;
}

class ChannelScan : public testing::TestWithParam<ScanCase> {};

TEST_P(ChannelScan, FindsChannelsThatStrikeNotes) {
    const auto song = songOf(0, 96, {GetParam().track});
    EXPECT_EQ(mid2nolt::soundingChannels(*song, 0), GetParam().mask);
    for (std::uint32_t c = 0; c < 16; ++c) {
        EXPECT_EQ(mid2nolt::channelHasNotes(*song, 0, c), (GetParam().mask >> c & 1u) != 0) << c;
    }
}

const ScanCase kScanCases[] = {
    {"Empty", {}, 0},
    {"TwoChannels", Track().noteOn(0, 9, 36, 1).noteOn(0, 0, 60, 1).end().bytes(), 0x0201},
    {"SilentNoteOnsOnly",
     Track().noteOn(0, 2, 60, 0).noteOff(5, 3, 60).event(0, 0xB4, {7, 100}).end().bytes(), 0},
    {"AfterEndOfTrack", Track().noteOn(0, 1, 60, 1).end().noteOn(0, 2, 60, 1).bytes(), 0x0002},
    {"AfterLongText", Track().text(0, 1, std::string(200, 't')).noteOn(0, 5, 60, 1).bytes(),
     0x0020},
    {"RunningStatus", Track().noteOn(0, 4, 60, 0).raw({0, 61, 1}).bytes(), 0x0010},
    {"RunningStatusAfterSysex",
     Track().event(0, 0x96, {60, 0}).sysex(0, {1, 0xF7}).raw({0, 61, 1}).bytes(), 0x0040},
    {"CutOffNoteOn", Track().noteOn(0, 1, 60, 1).raw({0, 0x97, 60}).bytes(), 0x0002},
    {"StrayVelocityByteIsADelta", Track().raw({0, 0x3C, 0x64, 0x93, 60, 1}).bytes(), 0x0008},
};

INSTANTIATE_TEST_SUITE_P(Cases, ChannelScan, testing::ValuesIn(kScanCases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
