#include "midi/track_events.h"

#include <gtest/gtest.h>

#include <string>

#include "support/smf_builder.h"

namespace {

using smf::operator+;

using mid2nolt::EventKind;
using mid2nolt::TrackEvent;
using mid2nolt::TrackEventReader;

// Reads a whole chunk and describes each delta and event, and how it stopped:
// "." at the end of the data, "cut" at an event cut off by the end.
std::string describe(const smf::Bytes& bytes) {
    TrackEventReader reader(bytes.data(), static_cast<std::uint32_t>(bytes.size()));
    std::string text;
    std::uint64_t delta = 0;
    TrackEvent e;
    while (reader.readDelta(delta)) {
        text += std::to_string(delta) + ":";
        if (!reader.readEvent(e)) {
            return text + "cut";
        }
        switch (e.kind) {
            case EventKind::NoteOn: text += "on"; break;
            case EventKind::NoteOff: text += "off"; break;
            case EventKind::OtherChannel: text += "chan"; break;
            case EventKind::SystemExclusive: text += "sysex"; break;
            case EventKind::System: text += "sys"; break;
            case EventKind::StrayData: text += "stray"; break;
            case EventKind::EndOfTrack: text += "end"; break;
            case EventKind::Meta:
                // Appended piece by piece: g++ 12 at -O3 warns falsely on "literal" + string.
                text.append("meta").append(std::to_string(e.metaType));
                if (e.metaType == 0x51)
                    text.append("=").append(std::to_string(e.tempo));
                if (e.metaType == 0x58)
                    text.append("=")
                        .append(std::to_string(e.numerator))
                        .append("/")
                        .append(std::to_string(e.exponent));
                if (e.text != nullptr)
                    text.append("'").append(e.text, e.text + e.textLength).append("'");
                break;
        }
        if (e.kind == EventKind::NoteOn || e.kind == EventKind::NoteOff ||
            e.kind == EventKind::OtherChannel) {
            text += std::to_string(e.status & 0x0F) + "/" + std::to_string(e.data1) + "/" +
                    std::to_string(e.data2);
        }
        text += " ";
    }
    return text + ".";
}

struct ReaderCase {
    const char* name;
    smf::Bytes bytes;
    std::string events;
};

void PrintTo(const ReaderCase& c, std::ostream* os) {
    *os << c.name;
}

class TrackEventReading : public testing::TestWithParam<ReaderCase> {};

TEST_P(TrackEventReading, StepsThroughTheChunk) {
    EXPECT_EQ(describe(GetParam().bytes), GetParam().events);
}

const ReaderCase kCases[] = {
    {"Empty", {}, "."},
    {"TwoByteDelta", {0x81, 0x00, 0xF8}, "128:sys ."},
    {"FourByteDelta", {0xFF, 0xFF, 0xFF, 0x7F, 0xF8}, "268435455:sys ."},
    {"SixByteDelta", {0x81, 0x80, 0x80, 0x80, 0x80, 0x00, 0xF8}, "34359738368:sys ."},
    {"LongDeltaKeepsLow64Bits",
     {0x82, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x01, 0xF8},
     "1:sys ."},
    {"ChannelEvents",
     {0, 0x90, 60, 100, 0, 0x80, 60, 64, 0, 0xC5, 7, 0, 0xD5, 9, 0, 0xE5, 1, 2},
     "0:on0/60/100 0:off0/60/64 0:chan5/7/0 0:chan5/9/0 0:chan5/1/2 ."},
    {"RunningStatus",
     {0, 0x93, 60, 100, 10, 62, 0, 0, 0xC1, 5, 0, 6},
     "0:on3/60/100 10:on3/62/0 0:chan1/5/0 0:chan1/6/0 ."},
    {"RunningStatusSurvivesMetaAndSysex",
     {0, 0x91, 60, 100, 0, 0xFF, 0x01, 1, 'x', 0, 0xF0, 1, 0xF7, 0, 0xF8, 0, 61, 90},
     "0:on1/60/100 0:meta1'x' 0:sysex 0:sys 0:on1/61/90 ."},
    {"StrayByteWithoutRunningStatus", {0, 0x3C, 0x64, 0x90, 60, 100}, "0:stray 100:on0/60/100 ."},
    {"DataBytesTakenAsTheyStand", {0, 0x90, 200, 255}, "0:on0/200/255 ."},
    {"EndOfTrackReadsNoLength", {0, 0xFF, 0x2F}, "0:end ."},
    {"TempoAndTimeSignature",
     {0, 0xFF, 0x51, 3, 0x07, 0xA1, 0x20, 0, 0xFF, 0x58, 4, 6, 3, 0x18, 8},
     "0:meta81=500000 0:meta88=6/3 ."},
    // A tempo reads three bytes whatever its length says, then moves by the length.
    {"ShortTempoLength", {0, 0xFF, 0x51, 0, 0x07, 0xA1, 0x20}, "0:meta81=500000 7:cut"},
    {"TextOfTwoHundredBytes",
     smf::Bytes{0, 0xFF, 0x01, 0x81, 0x48} + smf::Bytes(200, 'a') + smf::Bytes{0, 0x90, 60, 1},
     "0:meta1'" + std::string(200, 'a') + "' 0:on0/60/1 ."},
    {"OtherMetaSkipped", {0, 0xFF, 0x59, 2, 0x90, 0x90, 0, 0xFF, 0x7F, 0}, "0:meta89 0:meta127 ."},
    // Events cut off by the end of the chunk are not delivered.
    {"DeltaRunsPastEnd", {0, 0xF8, 0x81}, "0:sys ."},
    {"StatusMissing", {0, 0xF8, 5}, "0:sys 5:cut"},
    {"NoteOnMissingVelocity", {0, 0x90, 60}, "0:cut"},
    {"RunningNoteOnMissingVelocity", {0, 0x90, 60, 1, 0, 61}, "0:on0/60/1 0:cut"},
    {"ProgramChangeMissingData", {0, 0xC0}, "0:cut"},
    {"MetaTypeMissing", {0, 0xFF}, "0:cut"},
    {"MetaLengthRunsPastEnd", {0, 0xFF, 0x01, 0x81}, "0:cut"},
    {"TextLongerThanChunk", {0, 0xFF, 0x01, 5, 'a', 'b'}, "0:cut"},
    {"TempoMissingBytes", {0, 0xFF, 0x51, 3, 0x07, 0xA1}, "0:cut"},
    {"TimeSignatureMissingBytes", {0, 0xFF, 0x58, 4, 6}, "0:cut"},
    // Needed bytes present: the event counts, and the skip stops at the end.
    {"TempoLengthPastEnd", {0, 0xFF, 0x51, 9, 0x07, 0xA1, 0x20}, "0:meta81=500000 ."},
    {"SysexLengthPastEnd", {0, 0xF0, 0x8F, 0xFF, 0xFF, 0xFF, 0x7F, 0, 0x90, 60, 1}, "0:sysex ."},
    {"MetaLengthWouldWrap",
     {0, 0xFF, 0x7F, 0x8F, 0xFF, 0xFF, 0xFF, 0x7F, 0, 0x90, 60, 1},
     "0:meta127 ."},
};

INSTANTIATE_TEST_SUITE_P(Cases, TrackEventReading, testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
