// Hostile and malformed sources: whole runs of the binary in packing mode,
// with every output compared and nothing else written.

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <map>
#include <string>

#include "support/smf_builder.h"
#include "support/test_files.h"

namespace {

using smf::operator+;

using smf::Track;
using testing_support::readFile;
using testing_support::RunResult;
using testing_support::runTool;
using testing_support::TempDir;
using testing_support::writeFile;

struct HostileCase {
    const char* name;
    std::uint16_t division;
    smf::Bytes track;
    std::string body;  // the script between its header and its trailer
    std::string total;
};

void PrintTo(const HostileCase& c, std::ostream* os) {
    *os << c.name;
}

class HostileTrack : public testing::TestWithParam<HostileCase> {};

TEST_P(HostileTrack, ConvertsWhatIsThereAndNothingElse) {
    const HostileCase& c = GetParam();
    TempDir dir;
    const smf::Bytes source = smf::file(0, c.division, {Track().raw(c.track)});
    writeFile(dir / "song.mid", source);
    const RunResult run = runTool(dir.path(), {"song.mid", "-p"});
    EXPECT_EQ(run.out,
              "Reading MIDI Source File : song.mid\nMIDI File Format 0 with 1 track(s)\n"
              "NOLTing Track Data...\nSaving Track 0 to NOLT Script : song_0.txt\nDone!\n");
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.status, 0);
    const std::map<std::string, std::string> expected = {
        {"song.mid", std::string(source.begin(), source.end())},
        {"song_0.txt", "; Converted from Track 0 of song.mid\n" + c.body +
                           "\tend\n; Total Track Ticks : " + c.total + "\n"}};
    EXPECT_EQ(run.files, expected);
}

const std::string kNoteOn = std::string("\twait 0\n");

const HostileCase kHostileCases[] = {
    {"DeltaThatNeverEnds", 96, smf::Bytes{0, 0x90, 60, 1} + smf::Bytes(1000, 0x81), kNoteOn, "0"},
    {"DataBytesWithoutAnyStatus", 96, {0x3C, 0x40, 0x00, 0xFF, 0x2F, 0x00}, "", "0"},
    {"SysexLengthPastTheEnd",
     96,
     {0, 0x90, 60, 1, 0x60, 0xF0, 0x8F, 0xFF, 0xFF, 0xFF, 0x7F, 0, 0x80, 60, 0},
     kNoteOn,
     "0"},
    {"MetaLengthPastTheEnd",
     96,
     {0, 0x90, 60, 1, 0x60, 0xFF, 0x7F, 0x85, 0, 0, 0x80, 60, 0},
     kNoteOn,
     "0"},
    {"TextLengthPastTheEnd", 96, {0, 0x90, 60, 1, 0x60, 0xFF, 0x01, 10, 'a', 'b'}, kNoteOn, "0"},
    {"TempoZero", 96, Track().tempo(0, 0).noteOn(0, 0, 60, 1).noteOff(96, 0, 60).end().bytes(),
     "\twait 0\n\tc.5 0\n", "0"},
    {"DivisionZero", 0, Track().noteOn(0, 0, 60, 1).noteOff(96, 0, 60).end().bytes(),
     "\twait 0\n\tc.5 0\n", "0"},
    {"DivisionWithTopBitSet", 0xE728,
     Track().noteOn(0, 0, 60, 1).noteOff(59176, 0, 60).end().bytes(), "\twait 0\n\tc.5 30\n", "30"},
    {"TimeSignatureOfNoBeats", 96,
     Track().timeSignature(0, 0, 255).noteOn(0, 0, 60, 1).noteOff(9600, 0, 60).end().bytes(),
     "\twait 0\n\tc.5 3000\n", "3000"},
    // A delta of 2^64 - 1 wraps the clock: a span of -1 MIDI tick gives 0, and
    // the next span is counted from the wrapped time.
    {"HugeDeltaTime", 96,
     Track()
         .noteOn(0, 0, 60, 1)
         .noteOff(0xFFFFFFFFFFFFFFFFull, 0, 60)
         .noteOn(96, 0, 62, 1)
         .end()
         .bytes(),
     "\twait 0\n\tc.5 0\n\trest 30\n", "30"},
};

INSTANTIATE_TEST_SUITE_P(Cases, HostileTrack, testing::ValuesIn(kHostileCases),
                         [](const auto& info) { return std::string(info.param.name); });

// Root writes into read-only folders, so this can only be seen as another user.
TEST(HostileRun, ReadOnlyOutputFolder) {
    if (geteuid() == 0) {
        GTEST_SKIP() << "running as root: permissions do not stop writes";
    }
    TempDir dir;
    std::filesystem::create_directory(dir / "ro");
    writeFile(dir / "ro" / "song.mid", smf::file(1, 96, {Track().end()}));
    std::filesystem::permissions(
        dir / "ro", std::filesystem::perms::owner_read | std::filesystem::perms::owner_exec);
    const RunResult run = runTool(dir.path(), {"ro/song.mid"});
    EXPECT_EQ(run.out,
              "Reading MIDI Source File : ro/song.mid\nMIDI File Format 1 with 1 track(s)\n"
              "NOLTing Track Data...\n");
    EXPECT_EQ(run.err, "ERROR- Couldn't create output NOLT Script : ro/song_0.txt\n");
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.files.size(), 1u);
}

}  // namespace
