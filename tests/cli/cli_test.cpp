// Whole runs of the binary: command line checks and loader failures.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "support/smf_builder.h"
#include "support/test_files.h"

namespace {

using smf::operator+;

using testing_support::RunResult;
using testing_support::runTool;
using testing_support::TempDir;
using testing_support::writeFile;

const std::string kUsage =
    "Usage:\nmid2nolt infile.mid -p -f[Custom Frequency]\n"
    "-p enables packing mode,\n"
    "\tThis combines all channels of a each MIDI track\n"
    "\tinto a single NOLT Script output, instead of one\n"
    "\tscript per channel.\n"
    "-f[Custom Frequency] adjusts the target driver frequency,\n"
    "\tAll timing in NOLT Scripts is done in driver ticks\n"
    "\tthe rate of which may vary wildly depending upon your\n"
    "\tproject requirements. The default is 60.\n";
const std::string kUnexpectedEnd = "ERROR- Unexptected End of Source Data\n";

// A valid format-0 file with one note, for runs that get past the checks.
smf::Bytes smallSong() {
    return smf::file(0, 96, {smf::Track().noteOn(0, 0, 60, 100).noteOff(96, 0, 60).end()});
}

struct CommandCase {
    const char* name;
    std::vector<std::string> sources;  // files created before the run
    std::vector<std::string> args;
    std::string err;
    std::string out = "";
    int status = 1;
};

void PrintTo(const CommandCase& c, std::ostream* os) {
    *os << c.name;
}

class Arguments : public testing::TestWithParam<CommandCase> {};

// Every failure of the command line writes one message to stderr, nothing to
// stdout, no file, and exits with 1; --help and --version alone answer on
// stdout with 0.
TEST_P(Arguments, WriteTheirAnswer) {
    const CommandCase& c = GetParam();
    TempDir dir;
    std::map<std::string, std::string> before;
    for (const std::string& source : c.sources) {
        writeFile(dir / source, smallSong());
        before[source] = testing_support::readFile(dir / source);
    }
    const RunResult run = runTool(dir.path(), c.args);
    EXPECT_EQ(run.out, c.out);
    EXPECT_EQ(run.err, c.err);
    EXPECT_EQ(run.status, c.status);
    EXPECT_EQ(run.files, before);
}

const CommandCase kCommandCases[] = {
    {"NoArguments", {}, {}, kUsage},
    {"Help", {}, {"--help"}, "", kUsage, 0},
    {"Version",
     {},
     {"--version"},
     "",
     "mid2nolt " MID2NOLT_VERSION "\nCopyright (c) 2026 the mid2nolt developers, MIT License\n",
     0},
    {"HelpWithOptionIsASource",
     {"--help"},
     {"--help", "-p"},
     "ERROR- Source File must have a .mid extension."},
    {"MissingHelpSource", {}, {"--help", "-p"}, "ERROR- Can't Open Source File: --help\n"},
    {"ShortHelpIsASource", {}, {"-h"}, "ERROR- Can't Open Source File: -h\n"},
    {"ShortVersionIsASource", {}, {"-v"}, "ERROR- Can't Open Source File: -v\n"},
    {"HelpAfterSource",
     {"song.mid"},
     {"song.mid", "--help"},
     "ERROR- Invalid Conversion Parameter : --help\n"},
    {"ThreeOptions", {"song.mid"}, {"song.mid", "-p", "-p", "-p"}, kUsage},
    {"OptionTakenAsSource",
     {"song.mid"},
     {"-p", "song.mid"},
     "ERROR- Can't Open Source File: -p\n"},
    {"OpenFailureBeforeOptions",
     {},
     {"missing.mid", "-x"},
     "ERROR- Can't Open Source File: missing.mid\n"},
    {"OptionsBeforeExtension",
     {"song.txt"},
     {"song.txt", "-x"},
     "ERROR- Invalid Conversion Parameter : -x\n"},
    {"LeadingDashCheckedFirst",
     {"song.mid"},
     {"song.mid", "-q", "x"},
     "ERROR- Invalid Conversion Parameter : x\n"},
    {"EmptyOption", {"song.mid"}, {"song.mid", ""}, "ERROR- Invalid Conversion Parameter : \n"},
    {"FrequencyMissing",
     {"song.mid"},
     {"song.mid", "-f"},
     "ERROR- Invalid Driver Frequency : [None]\n"},
    {"FrequencyNotANumber",
     {"song.mid"},
     {"song.mid", "-fast"},
     "ERROR- Invalid Driver Frequency : ast\n"},
    {"FrequencyBlank", {"song.mid"}, {"song.mid", "-f "}, "ERROR- Invalid Driver Frequency :  \n"},
    {"FrequencyCheckedInOrder",
     {"song.mid"},
     {"song.mid", "-fx", "-P"},
     "ERROR- Invalid Driver Frequency : x\n"},
    {"UpperCaseF",
     {"song.mid"},
     {"song.mid", "-F60"},
     "ERROR- Invalid Conversion Parameter : -F60\n"},
    {"UpperCaseP", {"song.mid"}, {"song.mid", "-P"}, "ERROR- Invalid Conversion Parameter : -P\n"},
    {"DoubledP", {"song.mid"}, {"song.mid", "-pp"}, "ERROR- Invalid Conversion Parameter : -pp\n"},
    {"DashAlone", {"song.mid"}, {"song.mid", "-"}, "ERROR- Invalid Conversion Parameter : -\n"},
    {"WrongExtension",
     {"song.txt"},
     {"song.txt"},
     "ERROR- Source File must have a .mid extension."},
    {"NameTooShort", {"mid"}, {"mid", "-p"}, "ERROR- Source File must have a .mid extension."},
    {"ExtensionCut", {"a.mi"}, {"a.mi"}, "ERROR- Source File must have a .mid extension."},
};

INSTANTIATE_TEST_SUITE_P(Cases, Arguments, testing::ValuesIn(kCommandCases),
                         [](const auto& info) { return std::string(info.param.name); });

struct LoadCase {
    const char* name;
    smf::Bytes bytes;
    std::string out;  // after "Reading MIDI Source File : song.mid\n"
    std::string err;
};

void PrintTo(const LoadCase& c, std::ostream* os) {
    *os << c.name;
}

class LoaderFailure : public testing::TestWithParam<LoadCase> {};

TEST_P(LoaderFailure, StopsAfterItsMessage) {
    const LoadCase& c = GetParam();
    TempDir dir;
    writeFile(dir / "song.mid", c.bytes);
    const RunResult run = runTool(dir.path(), {"song.mid"});
    EXPECT_EQ(run.out, "Reading MIDI Source File : song.mid\n" + c.out);
    EXPECT_EQ(run.err, c.err);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.files.size(), 1u);
}

const smf::Bytes kTrack = smf::chunk("MTrk", smf::Track().end().bytes());

const LoadCase kLoadCases[] = {
    {"EmptyFile", {}, "", kUnexpectedEnd},
    {"ThreeBytes", {'M', 'T', 'h'}, "", kUnexpectedEnd},
    {"LowerCaseTag",
     {'m', 't', 'h', 'd', 0, 0, 0, 6, 0, 0, 0, 0, 0, 96},
     "",
     "ERROR- Source is not a Standard MIDI File\n"},
    {"RiffFile",
     {'R', 'I', 'F', 'F', 0, 0, 0, 6},
     "",
     "ERROR- Source is not a Standard MIDI File\n"},
    {"HeaderCutInDivision", {'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 1, 0, 1, 0}, "", kUnexpectedEnd},
    {"TagOnly", {'M', 'T', 'h', 'd'}, "", kUnexpectedEnd},
    {"MissingTrack", smf::header(1, 3, 96) + kTrack + kTrack,
     "MIDI File Format 1 with 3 track(s)\n", kUnexpectedEnd},
    {"ForeignChunk", smf::header(1, 1, 96) + smf::chunk("XFIH", {1, 2}) + kTrack,
     "MIDI File Format 1 with 1 track(s)\n", "ERROR- Incomprehensible Track Header\n"},
    {"TrackTagCut", smf::header(0, 1, 96) + smf::Bytes{'M', 'T', 'r'},
     "MIDI File Format 0 with 1 track(s)\n", kUnexpectedEnd},
    {"TrackLengthCut", smf::header(0, 1, 96) + smf::Bytes{'M', 'T', 'r', 'k', 0, 0},
     "MIDI File Format 0 with 1 track(s)\n", kUnexpectedEnd},
    {"TrackShorterThanLength", smf::header(0, 1, 96) + smf::chunk("MTrk", {0, 0xFF, 0x2F, 0}, 5),
     "MIDI File Format 0 with 1 track(s)\n", kUnexpectedEnd},
    // A 4 GiB declaration in a tiny file is a short read, not an allocation.
    {"HugeDeclaredLength", smf::header(0, 1, 96) + smf::chunk("MTrk", {0}, 0xFFFFFFFF),
     "MIDI File Format 0 with 1 track(s)\n", kUnexpectedEnd},
    {"HeaderSkipPastEnd",
     {'M', 'T', 'h', 'd', 0xFF, 0xFF, 0xFF, 0xFF, 0, 1, 0, 1, 0, 96},
     "MIDI File Format 1 with 1 track(s)\n",
     kUnexpectedEnd},
    {"NoTracksWithTrackCount", smf::header(0, 65535, 96),
     "MIDI File Format 0 with 65535 track(s)\n", kUnexpectedEnd},
};

INSTANTIATE_TEST_SUITE_P(Cases, LoaderFailure, testing::ValuesIn(kLoadCases),
                         [](const auto& info) { return std::string(info.param.name); });

// Linux opens a folder and reads nothing from it; Windows does not open it.
TEST(CommandLine, DirectoryAsSourceReadsNothing) {
    TempDir dir;
    std::filesystem::create_directory(dir / "folder.mid");
    const RunResult run = runTool(dir.path(), {"folder.mid"});
    if (testing_support::kWindowsBuild) {
        EXPECT_EQ(run.out, "");
        EXPECT_EQ(run.err, "ERROR- Can't Open Source File: folder.mid\n");
    } else {
        EXPECT_EQ(run.out, "Reading MIDI Source File : folder.mid\n");
        EXPECT_EQ(run.err, kUnexpectedEnd);
    }
    EXPECT_EQ(run.status, 1);
}

TEST(CommandLine, ZeroTracksConvertsNothing) {
    TempDir dir;
    writeFile(dir / "song.mid", smf::header(1, 0, 96));
    const RunResult run = runTool(dir.path(), {"song.mid", "-p"});
    EXPECT_EQ(run.out,
              "Reading MIDI Source File : song.mid\nMIDI File Format 1 with 0 track(s)\n"
              "NOLTing Track Data...\nDone!\n");
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.files.size(), 1u);
}

TEST(CommandLine, LongerHeaderIsSkippedAndTrailingBytesIgnored) {
    TempDir dir;
    writeFile(dir / "song.mid",
              smf::header(2, 1, 96, 10) + kTrack + smf::Bytes{'j', 'u', 'n', 'k'});
    const RunResult run = runTool(dir.path(), {"song.mid", "-p"});
    EXPECT_EQ(run.out,
              "Reading MIDI Source File : song.mid\nMIDI File Format 2 with 1 track(s)\n"
              "NOLTing Track Data...\nSaving Track 0 to NOLT Script : song_0.txt\nDone!\n");
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.files.at("song_0.txt"),
              "; Converted from Track 0 of song.mid\n\tend\n; Total Track Ticks : 0\n");
}

TEST(CommandLine, ShortHeaderLengthReadsTrackRightAfterHeaderWords) {
    TempDir dir;
    writeFile(dir / "song.mid", smf::header(1, 1, 96, 0) + kTrack);
    const RunResult run = runTool(dir.path(), {"song.mid", "-p"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.files.count("song_0.txt"), 1u);
}

TEST(CommandLine, NamedPipeSource) {
    if (testing_support::kWindowsBuild) {
        GTEST_SKIP() << "Windows has no named pipes in its file system";
    }
    TempDir dir;
    ASSERT_EQ(mkfifo((dir / "pipe.mid").c_str(), 0600), 0);
    const std::string feed = (dir / "feed.mid").string();
    writeFile(feed, smallSong());
    // The writer runs beside the tool; the tool reads the pipe to its end.
    const std::string command = "cat '" + feed + "' > '" + (dir / "pipe.mid").string() + "' &";
    ASSERT_EQ(std::system(command.c_str()), 0);
    const RunResult run = runTool(dir.path(), {"pipe.mid", "-p"});
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.files.at("pipe_0.txt"),
              "; Converted from Track 0 of pipe.mid\n\twait 0\n\tc.5 30\n\tend\n"
              "; Total Track Ticks : 30\n");
}

}  // namespace
