// Whole runs of the binary that convert: stdout, stderr, exit status and
// every script, byte for byte.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <string>

#include "support/smf_builder.h"
#include "support/test_files.h"

namespace {

using smf::Track;
using testing_support::readFile;
using testing_support::RunResult;
using testing_support::runTool;
using testing_support::TempDir;
using testing_support::writeFile;

const std::string kTrailer0 = "\tend\n; Total Track Ticks : 0\n";

std::string consoleFor(const std::string& source, const std::string& format,
                       const std::string& body, bool done = true) {
    return "Reading MIDI Source File : " + source + "\n" + format + "NOLTing Track Data...\n" +
           body + (done ? "Done!\n" : "");
}

RunResult convertIn(const TempDir& dir, const smf::Bytes& bytes,
                    std::vector<std::string> options = {}, const std::string& name = "song.mid") {
    writeFile(dir / name, bytes);
    options.insert(options.begin(), name);
    return runTool(dir.path(), options);
}

std::map<std::string, std::string> withSource(const TempDir& dir,
                                              std::map<std::string, std::string> scripts,
                                              const std::string& name = "song.mid") {
    scripts[name] = readFile(dir / name);
    return scripts;
}

// A format-1 file whose second track strikes channels 0 and 9.
TEST(ConversionRun, TypicalFileOneScriptPerSoundingChannel) {
    TempDir dir;
    const RunResult run =
        convertIn(dir, smf::file(1, 96,
                                 {Track().text(0, 3, "Title").end(), Track()
                                                                         .noteOn(0, 0, 60, 100)
                                                                         .noteOn(0, 9, 36, 100)
                                                                         .noteOff(96, 0, 60)
                                                                         .noteOff(0, 9, 36)
                                                                         .end()}));
    EXPECT_EQ(run.out, consoleFor("song.mid", "MIDI File Format 1 with 2 track(s)\n",
                                  "Saving Track 0 to NOLT Script : song_0.txt\n"
                                  "Track 1 has activity on Channel(s) : 0 9 \n"
                                  "Saving Track 1, Channel 0 to NOLT Script : song_1_0.txt\n"
                                  "Saving Track 1, Channel 9 to NOLT Script : song_1_9.txt\n"));
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(
        run.files,
        withSource(dir,
                   {{"song_0.txt", "; Converted from Track 0 of song.mid\n; Title\n" + kTrailer0},
                    {"song_1_0.txt",
                     "; Converted from Track 1, Channel 0 of song.mid\n\twait 0\n\tc.5 30\n"
                     "\tend\n; Total Track Ticks : 30\n"},
                    {"song_1_9.txt",
                     "; Converted from Track 1, Channel 9 of song.mid\n\twait 0\n\tc.3 30\n"
                     "\tend\n; Total Track Ticks : 30\n"}}));
}

// Three-four time, a text event, rests and a bar heading before the last note-off.
TEST(ConversionRun, MelodyInThreeFour) {
    TempDir dir;
    const RunResult run = convertIn(dir, smf::file(0, 96,
                                                   {Track()
                                                        .text(0, 3, "Melody")
                                                        .raw({0, 0xFF, 0x58, 4, 3, 2, 0x18, 8})
                                                        .noteOn(0, 0, 60, 100)
                                                        .noteOff(96, 0, 60)
                                                        .noteOn(0, 0, 62, 100)
                                                        .noteOff(96, 0, 62)
                                                        .noteOn(96, 0, 64, 100)
                                                        .noteOff(192, 0, 64)
                                                        .end()}));
    EXPECT_EQ(run.out, consoleFor("song.mid", "MIDI File Format 0 with 1 track(s)\n",
                                  "Track 0 has activity on Channel(s) : 0 \n"
                                  "Saving Track 0, Channel 0 to NOLT Script : song_0_0.txt\n"));
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.files.at("song_0_0.txt"),
              "; Converted from Track 0, Channel 0 of song.mid\n; Melody\n\twait 0\n\tc.5 30\n"
              "\trest 0\n\td.5 30\n\trest 30\n; Ticks 90\n; ---- Bar 1 ----\n;****************\n\n"
              "\te.5 60\n\tend\n; Total Track Ticks : 150\n");
}

TEST(ConversionRun, PackingModeOneScriptPerTrackEvenWhenEmpty) {
    TempDir dir;
    const RunResult run = convertIn(dir,
                                    smf::file(0, 96,
                                              {Track()
                                                   .noteOn(0, 0, 60, 100)
                                                   .noteOn(48, 3, 67, 90)
                                                   .noteOff(48, 0, 60)
                                                   .noteOff(0, 3, 67)
                                                   .end(),
                                               Track()}),
                                    {"-p"});
    EXPECT_EQ(run.out, consoleFor("song.mid", "MIDI File Format 0 with 2 track(s)\n",
                                  "Saving Track 0 to NOLT Script : song_0.txt\n"
                                  "Saving Track 1 to NOLT Script : song_1.txt\n"));
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(
        run.files,
        withSource(dir, {{"song_0.txt",
                          "; Converted from Track 0 of song.mid\n\twait 0\n\tc.5 15\n\tg.5 15\n"
                          "\trest 0\n\tend\n; Total Track Ticks : 30\n"},
                         {"song_1.txt", "; Converted from Track 1 of song.mid\n" + kTrailer0}}));
}

struct FrequencyCase {
    const char* name;
    std::vector<std::string> options;
    std::string body;
};

void PrintTo(const FrequencyCase& c, std::ostream* os) {
    *os << c.name;
}

class CustomFrequency : public testing::TestWithParam<FrequencyCase> {};

// Five quarter notes at 120 per minute: 2.5 seconds.
TEST_P(CustomFrequency, ScalesEveryLine) {
    TempDir dir;
    const RunResult run =
        convertIn(dir, smf::file(1, 96, {Track().noteOn(0, 0, 60, 100).noteOff(480, 0, 60).end()}),
                  GetParam().options);
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.files.at("song_0.txt"),
              "; Converted from Track 0 of song.mid\n" + GetParam().body);
}

const std::string kBarOne = "; ---- Bar 1 ----\n;****************\n\n";

const FrequencyCase kFrequencies[] = {
    {"Default",
     {},
     "\twait 0\n\tc.5 150\n; Ticks 150\n" + kBarOne + "\tend\n; Total Track Ticks : 150\n"},
    {"Double",
     {"-f120"},
     "\twait 0\n\tc.5 300\n; Ticks 300\n" + kBarOne + "\tend\n; Total Track Ticks : 300\n"},
    {"TrailingTextIgnored",
     {"-f60x"},
     "\twait 0\n\tc.5 150\n; Ticks 150\n" + kBarOne + "\tend\n; Total Track Ticks : 150\n"},
    {"LeadingBlankAndSign",
     {"-f +10"},
     "\twait 0\n\tc.5 25\n; Ticks 25\n" + kBarOne + "\tend\n; Total Track Ticks : 25\n"},
    {"LaterOptionWins",
     {"-f60", "-f1"},
     "\twait 0\n\tc.5 2\n; Ticks 2\n" + kBarOne + "\tend\n; Total Track Ticks : 2\n"},
    // No driver ticks at all: no bar can be measured, so no tick mark.
    {"Zero", {"-f0"}, "\twait 0\n\tc.5 0\n\tend\n; Total Track Ticks : 0\n"},
    // -1 reads as 4294967295: 10737418237.5 ticks, written modulo 2^32; the
    // bar (4294967294 after wrapping) is not reached.
    {"MinusOneWraps",
     {"-f-1"},
     "\twait 0\n\tc.5 2147483645\n\tend\n; Total Track Ticks : 2147483645\n"},
    // Beyond 32 bits the low 32 bits count (C libraries differ here; ours does not).
    {"TwoToThe32IsZero", {"-f4294967296"}, "\twait 0\n\tc.5 0\n\tend\n; Total Track Ticks : 0\n"},
    {"NegativeBeyond32Bits",
     {"-f-4294967236"},
     "\twait 0\n\tc.5 150\n; Ticks 150\n" + kBarOne + "\tend\n; Total Track Ticks : 150\n"},
};

INSTANTIATE_TEST_SUITE_P(Cases, CustomFrequency, testing::ValuesIn(kFrequencies),
                         [](const auto& info) { return std::string(info.param.name); });

// Tempo and time signature carry from one track to the next, except in format 2.
TEST(ConversionRun, TempoCarriesAcrossTracksExceptInFormatTwo) {
    const std::vector<Track> tracks = {Track().tempo(0, 600000).end(),
                                       Track().noteOn(0, 0, 60, 100).noteOff(96, 0, 60).end()};
    for (const auto& [format, line] : {std::pair{1, "\tc.5 36\n"}, std::pair{2, "\tc.5 30\n"}}) {
        TempDir dir;
        const RunResult run =
            convertIn(dir, smf::file(static_cast<std::uint16_t>(format), 96, tracks));
        EXPECT_EQ(run.status, 0);
        EXPECT_EQ(run.files.at("song_1_0.txt"),
                  "; Converted from Track 1, Channel 0 of song.mid\n\twait 0\n" +
                      std::string(line) +
                      "\tend\n; Total Track Ticks : " + (format == 1 ? "36" : "30") + "\n")
            << "format " << format;
    }
}

// The second channel's walk starts with the tempo the first walk ended with.
TEST(ConversionRun, TempoCarriesBetweenChannelScriptsOfOneTrack) {
    TempDir dir;
    const RunResult run = convertIn(dir, smf::file(0, 96,
                                                   {Track()
                                                        .noteOn(0, 0, 60, 100)
                                                        .noteOn(48, 1, 62, 100)
                                                        .tempo(48, 1000000)
                                                        .noteOff(0, 0, 60)
                                                        .noteOff(0, 1, 62)
                                                        .end()}));
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.files.at("song_0_0.txt"),
              "; Converted from Track 0, Channel 0 of song.mid\n\twait 0\n\tc.5 60\n"
              "\tend\n; Total Track Ticks : 60\n");
    EXPECT_EQ(run.files.at("song_0_1.txt"),
              "; Converted from Track 0, Channel 1 of song.mid\n\twait 30\n\td.5 30\n"
              "\tend\n; Total Track Ticks : 60\n");
}

// Notes written with running status, across a meta event, after a stray data
// byte that no status precedes.
TEST(ConversionRun, RunningStatusNotes) {
    TempDir dir;
    const RunResult run = convertIn(dir, smf::file(0, 96,
                                                   {Track()
                                                        .raw({0x00, 0x3C})
                                                        .noteOn(0, 0, 60, 100)
                                                        .raw({0x60, 60, 0})
                                                        .text(0, 1, "x")
                                                        .raw({0x00, 62, 100, 0x60, 62, 0})
                                                        .end()}));
    EXPECT_EQ(run.out, consoleFor("song.mid", "MIDI File Format 0 with 1 track(s)\n",
                                  "Track 0 has activity on Channel(s) : 0 \n"
                                  "Saving Track 0, Channel 0 to NOLT Script : song_0_0.txt\n"));
    EXPECT_EQ(run.files.at("song_0_0.txt"),
              "; Converted from Track 0, Channel 0 of song.mid\n\twait 0\n\tc.5 30\n; x\n\trest 0\n"
              "\td.5 30\n\tend\n; Total Track Ticks : 60\n");
}

// Texts are written one comment line per line of text, so that no text can
// put a command into a script.
TEST(ConversionRun, TextLineBreaksStayComments) {
    TempDir dir;
    const RunResult run = convertIn(dir, smf::file(1, 96,
                                                   {Track()
                                                        .text(0, 1, "a\nb")
                                                        .text(0, 2, "x\r\ny\rz")
                                                        .text(0, 3, "abc\n")
                                                        .text(0, 4, "")
                                                        .text(0, 5, std::string("\0abc", 4))
                                                        .text(0, 6, std::string("ab\0\n\tend", 8))
                                                        .text(0, 7, "\n\tend")
                                                        .end()}));
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.files.at("song_0.txt"),
              "; Converted from Track 0 of song.mid\n; a\n; b\n; x\n; y\n; z\n; abc\n; \n; \n; ab\n"
              "; \n; \tend\n" +
                  kTrailer0);
}

// The bar length stays out of the carried fraction, so the lines add up to
// the music's time.
TEST(ConversionRun, BarLengthOutsideTheCarry) {
    TempDir dir;
    Track track;
    track.tempo(0, 428571).noteOn(0, 0, 60, 100);
    for (int i = 0; i < 4; ++i) {
        track.noteOn(96, 0, 62 + i, 100);
    }
    const RunResult run = convertIn(dir, smf::file(0, 96, {track.end()}));
    EXPECT_EQ(run.files.at("song_0_0.txt"),
              "; Converted from Track 0, Channel 0 of song.mid\n\twait 0\n\tc.5 25\n\td.5 26\n"
              "\tds5 26\n\te.5 25\n; Ticks 102\n; ---- Bar 1 ----\n;****************\n\n"
              "\tend\n; Total Track Ticks : 102\n");
}

TEST(ConversionRun, UpperCaseExtensionAndDirectoryInName) {
    TempDir dir;
    std::filesystem::create_directory(dir / "Dir");
    const RunResult run = convertIn(dir, smf::file(1, 96, {Track().end()}), {}, "Dir/SONG.MID");
    EXPECT_EQ(run.out, consoleFor("Dir/SONG.MID", "MIDI File Format 1 with 1 track(s)\n",
                                  "Saving Track 0 to NOLT Script : Dir/SONG_0.txt\n"));
    EXPECT_EQ(run.files.at("Dir/SONG_0.txt"),
              "; Converted from Track 0 of Dir/SONG.mid\n" + kTrailer0);
}

// Names are bytes, passed through unchanged: UTF-8 on Linux, and on Windows
// too (the executable selects the UTF-8 code page).
TEST(ConversionRun, NamesOutsideAscii) {
    for (const std::string stem : {"chanson \xC3\xA9", "\xE6\x9B\xB2"}) {
        TempDir dir;
        const RunResult run = convertIn(dir, smf::file(1, 96, {Track().end()}), {}, stem + ".mid");
        EXPECT_EQ(run.out, consoleFor(stem + ".mid", "MIDI File Format 1 with 1 track(s)\n",
                                      "Saving Track 0 to NOLT Script : " + stem + "_0.txt\n"));
        EXPECT_EQ(run.files.at(stem + "_0.txt"),
                  "; Converted from Track 0 of " + stem + ".mid\n" + kTrailer0);
    }
}

// A Windows path with a drive letter and backslashes: scripts go beside the
// source, named from it as anywhere else. Under wine, drive Z: is the root.
TEST(ConversionRun, WindowsPathWithDriveLetter) {
    if (!testing_support::kWindowsBuild) {
        GTEST_SKIP() << "a Windows build only";
    }
    TempDir dir;
    std::filesystem::create_directory(dir / "music");
    writeFile(dir / "music" / "song.mid", smf::file(1, 96, {Track().end()}));
    std::string source = "Z:" + (dir / "music" / "song.mid").string();
    std::replace(source.begin(), source.end(), '/', '\\');
    const std::string base = source.substr(0, source.size() - 4);
    const RunResult run = runTool(dir.path(), {source});
    EXPECT_EQ(run.out, consoleFor(source, "MIDI File Format 1 with 1 track(s)\n",
                                  "Saving Track 0 to NOLT Script : " + base + "_0.txt\n"));
    EXPECT_EQ(run.files.at("music/song_0.txt"),
              "; Converted from Track 0 of " + base + ".mid\n" + kTrailer0);
}

TEST(ConversionRun, NameThatIsOnlyTheExtension) {
    TempDir dir;
    const RunResult run = convertIn(dir, smf::file(1, 96, {Track().end()}), {}, ".mid");
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.files.at("_0.txt"), "; Converted from Track 0 of .mid\n" + kTrailer0);
}

TEST(ConversionRun, ExistingScriptIsOverwritten) {
    TempDir dir;
    writeFile(dir / "song_0.txt", std::string(1000, 'x'));
    const RunResult run = convertIn(dir, smf::file(1, 96, {Track().end()}));
    EXPECT_EQ(run.files.at("song_0.txt"), "; Converted from Track 0 of song.mid\n" + kTrailer0);
}

// The second of three scripts cannot be created: the first stays, the third is never made.
TEST(ConversionRun, ScriptThatCannotBeCreatedStopsTheRun) {
    TempDir dir;
    std::filesystem::create_directory(dir / "song_1.txt");
    const RunResult run =
        convertIn(dir, smf::file(1, 96, {Track().end(), Track().end(), Track().end()}), {"-p"});
    EXPECT_EQ(run.out, consoleFor("song.mid", "MIDI File Format 1 with 3 track(s)\n",
                                  "Saving Track 0 to NOLT Script : song_0.txt\n", false));
    EXPECT_EQ(run.err, "ERROR- Couldn't create output NOLT Script : song_1.txt\n");
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(
        run.files,
        withSource(dir, {{"song_0.txt", "; Converted from Track 0 of song.mid\n" + kTrailer0}}));
}

TEST(ConversionRun, ChannelScriptThatCannotBeCreatedStopsTheRun) {
    TempDir dir;
    std::filesystem::create_directory(dir / "song_0_1.txt");
    const RunResult run =
        convertIn(dir, smf::file(0, 96, {Track().noteOn(0, 1, 60, 1).noteOn(0, 2, 60, 1).end()}));
    EXPECT_EQ(run.out, consoleFor("song.mid", "MIDI File Format 0 with 1 track(s)\n",
                                  "Track 0 has activity on Channel(s) : 1 2 \n", false));
    EXPECT_EQ(run.err, "ERROR- Couldn't create output NOLT Script : song_0_1.txt\n");
    EXPECT_EQ(run.status, 1);
    EXPECT_FALSE(std::filesystem::exists(dir / "song_0_2.txt"));
}

// A script that cannot be written whole (here: the device is full) is a failure, not a success.
TEST(ConversionRun, ScriptThatCannotBeWrittenStopsTheRun) {
    if (!std::filesystem::exists("/dev/full")) {
        GTEST_SKIP() << "no /dev/full";
    }
    TempDir dir;
    std::filesystem::create_symlink("/dev/full", dir / "song_0.txt");
    // A text longer than the stream's buffer is written past it, and fails too.
    const RunResult run = convertIn(
        dir, smf::file(1, 96, {Track().text(0, 1, std::string(300000, 't')).end(), Track().end()}),
        {"-p"});
    EXPECT_EQ(run.out, consoleFor("song.mid", "MIDI File Format 1 with 2 track(s)\n",
                                  "Saving Track 0 to NOLT Script : song_0.txt\n", false));
    EXPECT_EQ(run.err, "ERROR- Couldn't write output NOLT Script : song_0.txt\n");
    EXPECT_EQ(run.status, 1);
    EXPECT_FALSE(std::filesystem::exists(dir / "song_1.txt"));
}

}  // namespace
