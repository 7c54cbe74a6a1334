// Whole runs of mid2nolt-arrange: its command line, its failures, what it writes.

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "support/smf_builder.h"
#include "support/test_files.h"

namespace {

using smf::operator+;

using testing_support::runArranger;
using testing_support::RunResult;
using testing_support::TempDir;

const std::string kUsage =
    "Usage:\nmid2nolt-arrange infile.mid -o[outfile.mid] --voices[N] --format[1]\n"
    "mid2nolt-arrange infile.mid --channels[N] --drums|--no-drums --melody[T[:C]]\n"
    "\t--arpeggio[K] -f[Custom Frequency] -o[outfile.mid] --format[1]\n"
    "Deals the notes of each track and channel into voices that sound\n"
    "\tone note at a time, each a track of its own on the same channel,\n"
    "\ttimed as the file is, so that each NOLT Script converted from it\n"
    "\tkeeps its notes and its timing. A voice that sounds a note across\n"
    "\ta change of tempo gets a tempo map of its own (format 2).\n"
    "-o[outfile.mid] names the arranged file,\n"
    "\tby default infile-arranged.mid beside the source.\n"
    "--voices[N] keeps at most N voices per track and channel;\n"
    "\ta note above or below everything sounding takes precedence,\n"
    "\tother notes that find no voice are left out and counted.\n"
    "--format 1 gives every voice the file's tempo map, in format 1,\n"
    "\tfor sequencers that play only format 1; the console then says\n"
    "\thow far the scripts will drift.\n"
    "--channels[N] fits the song to N driver channels, 1 to 255, a track\n"
    "\teach, one note at a time: the melody, the bass, the drums (from 4\n"
    "\tchannels on, or fewer where the other notes all fit whole), then\n"
    "\tas many other notes as fit whole; notes kept and cut short are\n"
    "\tcounted against the most N channels can hold. Notes of no length,\n"
    "\twhich no driver plays, are left out.\n"
    "--drums gives the drums a channel whatever N; --no-drums leaves them out.\n"
    "--melody[T[:C]] gives the Melody channel the tune of Track T (its\n"
    "\tChannel C only, where given), numbered as the console shows them;\n"
    "\tby default the tune is the part named for it, else the part that\n"
    "\tsounds like one, else the highest notes of all. Where the tune\n"
    "\trests for a bar or more, the part that answers it takes over.\n"
    "--arpeggio[K] has each harmony channel play the notes it stands for\n"
    "\tthat sound together in turn, low to high, K driver ticks (1 to 255)\n"
    "\ta step at the frequency -f gives (60 by default), as the converter\n"
    "\treads it; what the melody and the bass cut short plays on there.\n";

// One note in a format-0 file, and what the arranger makes of it: format 1,
// a track 0 as long as the source with nothing else, and the note's voice.
const smf::Bytes kSong =
    smf::file(0, 96, {smf::Track().noteOn(0, 0, 60, 100).noteOff(96, 0, 60).end()});
const smf::Bytes kArranged =
    smf::header(1, 2, 96) + smf::chunk("MTrk", {0x60, 0xFF, 0x2F, 0x00}) +
    smf::chunk("MTrk", {0x00, 0x90, 60, 100, 0x60, 0x80, 60, 64, 0x00, 0xFF, 0x2F, 0x00});
// The same note fitted to two channels: the melody's track, named for it.
const smf::Bytes kFitted =
    smf::header(1, 2, 96) + smf::chunk("MTrk", {0x60, 0xFF, 0x2F, 0x00}) +
    smf::chunk("MTrk", {0x00, 0xFF, 0x03, 6,    'M',  'e', 'l', 'o',  'd',  'y',  0x00,
                        0x90, 60,   100,  0x60, 0x80, 60,  64,  0x00, 0xFF, 0x2F, 0x00});
const std::string kArrangedConsole =
    "MIDI File Format 0 with 1 track(s)\n"
    "Arranging Track Data...\n"
    "Track 0 : events other than notes kept in Track 0\n"
    "Track 0, Channel 0 : 1 note(s) in 1 voice(s), 0 left out, 0 cut short : Track 1\n";

std::string text(const smf::Bytes& bytes) {
    return {bytes.begin(), bytes.end()};
}

struct ArrangeCase {
    const char* name;
    std::map<std::string, std::string> before;  // files in the folder before the run
    std::vector<std::string> args;
    std::string err;
    std::string out = "";
    int status = 1;
    std::map<std::string, std::string> written = {};  // files the run adds or replaces
    std::vector<std::string> folders = {};            // made before the run, still there after it
};

void PrintTo(const ArrangeCase& c, std::ostream* os) {
    *os << c.name;
}

class ArrangeRun : public testing::TestWithParam<ArrangeCase> {};

// A failure writes one message to stderr and leaves every file as it was;
// a success writes the arranged file whole and nothing else.
TEST_P(ArrangeRun, WritesItsAnswer) {
    const ArrangeCase& c = GetParam();
    TempDir dir;
    for (const std::string& folder : c.folders) {
        std::filesystem::create_directory(dir / folder);
    }
    for (const auto& [name, content] : c.before) {
        testing_support::writeFile(dir / name, content);
    }
    const RunResult run = runArranger(dir.path(), c.args);
    EXPECT_EQ(run.out, c.out);
    EXPECT_EQ(run.err, c.err);
    EXPECT_EQ(run.status, c.status);
    std::map<std::string, std::string> files = c.before;
    for (const auto& [name, content] : c.written) {
        files[name] = content;
    }
    EXPECT_EQ(run.files, files);
    for (const std::string& folder : c.folders) {
        EXPECT_TRUE(std::filesystem::is_directory(dir / folder)) << folder;
    }
}

const std::map<std::string, std::string> kSource = {{"song.mid", text(kSong)}};

// Notes ({channel, key}) held together for 11 years (a format-0 song at a
// tick a quarter and the slowest tempo, 16.8 s a tick) and fitted to three
// channels with arpeggios: more steps than the arpeggios write, said rather
// than taken.
ArrangeCase heldForYears(const char* name, const std::vector<std::pair<int, int>>& notes) {
    smf::Track track;
    track.tempo(0, 0xFFFFFF);
    for (const auto& [channel, key] : notes) {
        track.noteOn(0, channel, key, 100);
    }
    for (std::size_t n = 0; n < notes.size(); ++n) {
        track.noteOff(n == 0 ? 20000000 : 0, notes[n].first, notes[n].second);
    }
    return {name,
            {{"song.mid", text(smf::file(0, 1, {track.end()}))}},
            {"song.mid", "--channels", "3", "--arpeggio", "1"},
            "ERROR- The arpeggios need more than 4194304 steps: a step of more driver ticks "
            "(--arpeggio) or a lower frequency (-f) needs fewer\n",
            "Reading MIDI Source File : song.mid\nMIDI File Format 0 with 1 track(s)\n"
            "Fitting Track Data to 3 Channel(s)...\n"};
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ArrangeRun,
    testing::Values(
        ArrangeCase{"NoArguments", {}, {}, kUsage},
        ArrangeCase{"Help", {}, {"--help"}, "", kUsage, 0},
        ArrangeCase{"Version",
                    {},
                    {"--version"},
                    "",
                    "mid2nolt-arrange " MID2NOLT_VERSION
                    "\nCopyright (c) 2026 the mid2nolt developers, MIT License\n",
                    0},
        ArrangeCase{"UnknownOption",
                    kSource,
                    {"song.mid", "-p"},
                    "ERROR- Invalid Arrange Parameter : -p\n"},
        ArrangeCase{"VoicesMissing",
                    kSource,
                    {"song.mid", "--voices"},
                    "ERROR- Invalid Voice Count : [None]\n"},
        ArrangeCase{"VoicesZero",
                    kSource,
                    {"song.mid", "--voices", "0"},
                    "ERROR- Invalid Voice Count : 0\n"},
        ArrangeCase{"VoicesNotANumber",
                    kSource,
                    {"song.mid", "--voices=2x"},
                    "ERROR- Invalid Voice Count : 2x\n"},
        ArrangeCase{"VoicesPast32Bits",
                    kSource,
                    {"song.mid", "--voices", "4294967296"},
                    "ERROR- Invalid Voice Count : 4294967296\n"},
        ArrangeCase{"ChannelsZero",
                    kSource,
                    {"song.mid", "--channels", "0"},
                    "ERROR- Invalid Channel Count : 0\n"},
        ArrangeCase{"ChannelsPastWhatAFitTakes",
                    kSource,
                    {"song.mid", "--channels=256"},
                    "ERROR- Invalid Channel Count : 256\n"},
        ArrangeCase{"ChannelsMissing",
                    kSource,
                    {"song.mid", "--channels"},
                    "ERROR- Invalid Channel Count : [None]\n"},
        ArrangeCase{"ChannelsWithVoices",
                    kSource,
                    {"song.mid", "--voices", "2", "--channels", "4"},
                    "ERROR- Invalid Arrange Parameter : --channels with --voices\n"},
        ArrangeCase{"DrumsWithoutChannels",
                    kSource,
                    {"song.mid", "--drums"},
                    "ERROR- Invalid Arrange Parameter : --drums without --channels\n"},
        ArrangeCase{"DrumsAndNoDrums",
                    kSource,
                    {"song.mid", "--channels=3", "--drums", "--no-drums"},
                    "ERROR- Invalid Arrange Parameter : --drums with --no-drums\n"},
        ArrangeCase{"ChannelsOfAFormat2File",
                    {{"song.mid", text(smf::file(2, 96, {smf::Track().end()}))}},
                    {"song.mid", "--channels", "3"},
                    "ERROR- Can't Fit Channels of MIDI File Format : 2\n",
                    "Reading MIDI Source File : song.mid\nMIDI File Format 2 with 1 track(s)\n"},
        // Deltas that add up past 64 bits: the fit stops as the arranger does.
        ArrangeCase{"FitOfATrackPast64Bits",
                    {{"song.mid", text(smf::file(0, 96,
                                                 {smf::Track()
                                                      .noteOn(0, 0, 60, 100)
                                                      .noteOff(~std::uint64_t{0}, 0, 60)
                                                      .noteOn(2, 0, 62, 100)
                                                      .end()}))}},
                    {"song.mid", "--channels", "1"},
                    "ERROR- Track 0 is longer than 2^64 ticks\n",
                    "Reading MIDI Source File : song.mid\nMIDI File Format 0 with 1 track(s)\n"
                    "Fitting Track Data to 1 Channel(s)...\n"},
        // The part asked for as the melody strikes no note: on channel 1 of
        // the track, or in a track that has none.
        ArrangeCase{"MelodyOfAPartWithoutNotes",
                    kSource,
                    {"song.mid", "--channels", "2", "--melody", "0:1"},
                    "ERROR- Track 0, Channel 1 has no pitched note to carry the melody "
                    "(--melody)\n",
                    "Reading MIDI Source File : song.mid\nMIDI File Format 0 with 1 track(s)\n"
                    "Fitting Track Data to 2 Channel(s)...\n"},
        ArrangeCase{"MelodyWithoutChannels",
                    kSource,
                    {"song.mid", "--melody=0"},
                    "ERROR- Invalid Arrange Parameter : --melody without --channels\n"},
        ArrangeCase{"MelodyNotAPart",
                    kSource,
                    {"song.mid", "--channels", "2", "--melody", "1:16"},
                    "ERROR- Invalid Melody Part : 1:16\n"},
        ArrangeCase{"ArpeggioWithoutChannels",
                    kSource,
                    {"song.mid", "--arpeggio", "2"},
                    "ERROR- Invalid Arrange Parameter : --arpeggio without --channels\n"},
        ArrangeCase{"ArpeggioStepPastAByte",
                    kSource,
                    {"song.mid", "--channels", "3", "--arpeggio=256"},
                    "ERROR- Invalid Arpeggio Step : 256\n"},
        ArrangeCase{"FrequencyWithoutArpeggio",
                    kSource,
                    {"song.mid", "--channels", "3", "-f50"},
                    "ERROR- Invalid Arrange Parameter : -f without --arpeggio\n"},
        // A chord held for years.
        heldForYears("ArpeggiosTooFineForTheSong", {{0, 48}, {0, 60}, {0, 64}, {0, 72}}),
        // Two notes of one key sound together for years: their turns, which
        // write no step, stop at a bound rather than run for hours.
        heldForYears("ArpeggiosOfOneKeyTooLongForTheSong", {{0, 48}, {0, 60}, {1, 60}, {0, 72}}),
        // One note, no harmony channel: the console says the step changes nothing.
        ArrangeCase{"ArpeggioWithoutHarmony",
                    kSource,
                    {"song.mid", "--channels", "2", "--no-drums", "--arpeggio", "1", "-f50"},
                    "",
                    "Reading MIDI Source File : song.mid\n"
                    "MIDI File Format 0 with 1 track(s)\n"
                    "Fitting Track Data to 2 Channel(s)...\n"
                    "Melody from the highest notes of every part : no part plays a tune alone\n"
                    "Channel 1, Melody : 1 note(s), 0 cut short, from Track 0, Channel 0 (1) : "
                    "Track 1\n"
                    "No harmony channel : --arpeggio changes nothing\n"
                    "Kept 1 of 1 note(s) whole and 0 cut short in 2 channel(s) (the most 2 "
                    "channel(s) can hold whole: 1)\n"
                    "Saving MIDI File Format 1 with 2 track(s) : song-arranged.mid\nDone!\n",
                    0,
                    {{"song-arranged.mid", text(kFitted)}}},
        ArrangeCase{"FitsToChannels",
                    kSource,
                    {"song.mid", "--channels", "2", "--no-drums"},
                    "",
                    "Reading MIDI Source File : song.mid\n"
                    "MIDI File Format 0 with 1 track(s)\n"
                    "Fitting Track Data to 2 Channel(s)...\n"
                    "Melody from the highest notes of every part : no part plays a tune alone\n"
                    "Channel 1, Melody : 1 note(s), 0 cut short, from Track 0, Channel 0 (1) : "
                    "Track 1\n"
                    "Kept 1 of 1 note(s) whole and 0 cut short in 2 channel(s) (the most 2 "
                    "channel(s) can hold whole: 1)\n"
                    "Saving MIDI File Format 1 with 2 track(s) : song-arranged.mid\nDone!\n",
                    0,
                    {{"song-arranged.mid", text(kFitted)}}},
        ArrangeCase{
            "OutputMissing", kSource, {"song.mid", "-o"}, "ERROR- Invalid Output File : [None]\n"},
        ArrangeCase{"FormatOtherThanOne",
                    kSource,
                    {"song.mid", "--format", "2"},
                    "ERROR- Invalid Output Format : 2\n"},
        ArrangeCase{"FormatMissing",
                    kSource,
                    {"song.mid", "--format="},
                    "ERROR- Invalid Output Format : [None]\n"},
        ArrangeCase{
            "MissingSource", {}, {"missing.mid"}, "ERROR- Can't Open Source File: missing.mid\n"},
        ArrangeCase{"OutputIsSource",
                    kSource,
                    {"song.mid", "-o", "song.mid"},
                    "ERROR- Output File is the Source File : song.mid\n"},
        ArrangeCase{"OutputIsSourceByAnotherPath",
                    kSource,
                    {"song.mid", "-o./song.mid"},
                    "ERROR- Output File is the Source File : ./song.mid\n"},
        // A folder under the output's name is never removed or written into.
        ArrangeCase{"OutputIsAnEmptyFolder",
                    kSource,
                    {"song.mid", "-o", "out"},
                    "ERROR- Output File is a Folder : out\n",
                    "",
                    1,
                    {},
                    {"out"}},
        ArrangeCase{"OutputIsAFolderWithFiles",
                    {{"song.mid", text(kSong)}, {"out/keep.mid", "kept"}},
                    {"song.mid", "-oout"},
                    "ERROR- Output File is a Folder : out\n",
                    "",
                    1,
                    {},
                    {"out"}},
        ArrangeCase{"NotMidiKeepsTheOldOutput",
                    {{"song.mid", "RIFF...."}, {"song-arranged.mid", "old"}},
                    {"song.mid"},
                    "ERROR- Source is not a Standard MIDI File\n",
                    "Reading MIDI Source File : song.mid\n"},
        ArrangeCase{"Truncated",
                    {{"song.mid", text(smf::header(1, 2, 96))}},
                    {"song.mid"},
                    "ERROR- Unexptected End of Source Data\n",
                    "Reading MIDI Source File : song.mid\nMIDI File Format 1 with 2 track(s)\n"},
        ArrangeCase{"NoSuchFolder",
                    kSource,
                    {"song.mid", "-o", "none/out.mid"},
                    "ERROR- Couldn't create arranged MIDI File : none/out.mid\n",
                    "Reading MIDI Source File : song.mid\n" + kArrangedConsole +
                        "Saving MIDI File Format 1 with 2 track(s) : none/out.mid\n"},
        ArrangeCase{"BesideTheSource",
                    kSource,
                    {"song.mid"},
                    "",
                    "Reading MIDI Source File : song.mid\n" + kArrangedConsole +
                        "Saving MIDI File Format 1 with 2 track(s) : song-arranged.mid\nDone!\n",
                    0,
                    {{"song-arranged.mid", text(kArranged)}}},
        ArrangeCase{"ReplacesTheOutput",
                    {{"song.mid", text(kSong)}, {"out.mid", "old"}},
                    {"song.mid", "--voices=1", "-oout.mid"},
                    "",
                    "Reading MIDI Source File : song.mid\n" + kArrangedConsole +
                        "Saving MIDI File Format 1 with 2 track(s) : out.mid\nDone!\n",
                    0,
                    {{"out.mid", text(kArranged)}}}),
    [](const testing::TestParamInfo<ArrangeCase>& info) { return info.param.name; });

}  // namespace

namespace {

// A note held across a change of tempo, then another: in format 2 each voice
// keeps the file's time; in format 1 the second note starts 0.25 s late.
TEST(ArrangeConsole, SaysHowTheVoicesKeepTime) {
    const smf::Bytes song = smf::file(0, 96,
                                      {smf::Track()
                                           .tempo(0, 500000)
                                           .noteOn(0, 0, 60, 100)
                                           .tempo(48, 1000000)
                                           .noteOff(48, 0, 60)
                                           .noteOn(0, 0, 62, 100)
                                           .noteOff(96, 0, 62)
                                           .end()});
    const std::string head =
        "Reading MIDI Source File : song.mid\n"
        "MIDI File Format 0 with 1 track(s)\n"
        "Arranging Track Data...\n"
        "Track 0 : events other than notes kept in Track 0\n"
        "Track 0, Channel 0 : 2 note(s) in 1 voice(s), 0 left out, 0 cut short : Track 1\n";
    const struct {
        std::vector<std::string> args;
        std::string out;
    } runs[] = {
        {{"song.mid"},
         head + "Tempo changes inside 1 sounding note(s): each voice track carries its own tempo "
                "map (format 2)\n"
                "Saving MIDI File Format 2 with 2 track(s) : song-arranged.mid\nDone!\n"},
        {{"song.mid", "--format=1"},
         head + "Saving MIDI File Format 1 with 2 track(s) : song-arranged.mid\n"
                "Tempo changes inside 1 sounding note(s): the scripts will drift by up to "
                "0.250 s (format 1)\nDone!\n"},
    };
    for (const auto& run : runs) {
        TempDir dir;
        testing_support::writeFile(dir / "song.mid", song);
        const RunResult result = runArranger(dir.path(), run.args);
        EXPECT_EQ(result.out, run.out) << run.args.back();
        EXPECT_EQ(result.err, "");
        EXPECT_EQ(result.status, 0);
    }
}

}  // namespace
