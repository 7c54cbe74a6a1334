// The arranger on built files and, as properties, on the shared real files.

#include "arrange/arranger.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "convert/track_output.h"
#include "midi/notes.h"
#include "midi/song.h"
#include "midi/track_events.h"
#include "support/smf_builder.h"
#include "support/song_bytes.h"
#include "support/test_files.h"

namespace {

namespace fs = std::filesystem;
using mid2nolt::Arrangement;
using mid2nolt::Note;
using mid2nolt::Song;
using testing_support::allNotes;
using testing_support::fileBytes;
using testing_support::loadBytes;
using testing_support::overlap;
using testing_support::Voice;
using testing_support::voicesOf;

using smf::operator+;

struct Arranged {
    Arrangement arrangement;
    std::unique_ptr<Song> song;  // the arranged file, read back
};

Arranged arrangeSong(const Song& source, std::uint32_t maxVoices = 0) {
    Arranged result;
    std::string error;
    EXPECT_TRUE(mid2nolt::arrange(source, {maxVoices}, result.arrangement, error)) << error;
    result.song = loadBytes(fileBytes(result.arrangement));
    return result;
}

// The timed lines of a script ("\twait 12", "\tc.4 3"): each line's word and tick count.
std::vector<std::pair<std::string, std::uint64_t>> timedLines(const std::string& text) {
    std::vector<std::pair<std::string, std::uint64_t>> lines;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        const std::size_t space = line.find(' ');
        if (line.size() > 1 && line[0] == '\t' && space != std::string::npos &&
            line.find_first_not_of("0123456789", space + 1) == std::string::npos &&
            space + 1 < line.size()) {
            lines.emplace_back(line.substr(1, space - 1), std::stoull(line.substr(space + 1)));
        }
    }
    return lines;
}

bool isNoteLine(const std::string& word) {
    return word.size() >= 3 && word[0] >= 'a' && word[0] <= 'g' &&
           (word[1] == '.' || word[1] == 's');
}

Note note(std::uint64_t start, std::uint64_t end, int key, int channel = 0, int velocity = 100) {
    return {start, end, static_cast<std::uint8_t>(channel), static_cast<std::uint8_t>(key),
            static_cast<std::uint8_t>(velocity)};
}

// A C major chord held over a moving melody, on channel 0 of track 1.
smf::Bytes chordFile() {
    smf::Track melody;
    melody.text(0, 0x03, "Piano")
        .noteOn(0, 0, 72, 100)
        .noteOn(0, 0, 60, 100)
        .noteOn(0, 0, 64, 100)
        .noteOn(0, 0, 67, 100)
        .noteOff(96, 0, 72)
        .noteOn(0, 0, 74, 100)
        .noteOff(96, 0, 74)
        .noteOff(0, 0, 60)
        .noteOff(0, 0, 64)
        .noteOff(0, 0, 67)
        .end();
    return smf::file(1, 96, {smf::Track().tempo(0, 500000).end(), melody});
}

struct VoicesCase {
    const char* name;
    smf::Bytes file;
    std::uint32_t maxVoices;
    std::uint16_t format;
    std::vector<Voice> voices;
    std::uint64_t leftOut = 0;
    std::uint64_t cutShort = 0;
};
void PrintTo(const VoicesCase& c, std::ostream* os) {
    *os << c.name;
}

class Voices : public testing::TestWithParam<VoicesCase> {};

TEST_P(Voices, AreDealtAsTheMusicNeeds) {
    const VoicesCase& c = GetParam();
    const Arranged arranged = arrangeSong(*loadBytes(c.file), c.maxVoices);
    EXPECT_EQ(arranged.song->format, c.format);
    EXPECT_EQ(voicesOf(*arranged.song), c.voices);
    std::uint64_t leftOut = 0;
    std::uint64_t cutShort = 0;
    for (const mid2nolt::PartReport& part : arranged.arrangement.parts) {
        leftOut += part.leftOut;
        cutShort += part.cutShort;
    }
    EXPECT_EQ(leftOut, c.leftOut);
    EXPECT_EQ(cutShort, c.cutShort);
}

INSTANTIATE_TEST_SUITE_P(
    Built, Voices,
    testing::Values(
        // Struck together, dealt from the top; each later note to the free
        // voice nearest in pitch; the first voice keeps the track's name.
        VoicesCase{"Chord",
                   chordFile(),
                   0,
                   1,
                   {{"", {}},
                    {"Piano", {note(0, 96, 72), note(96, 192, 74)}},
                    {"Piano (voice 2)", {note(0, 192, 67)}},
                    {"Piano (voice 3)", {note(0, 192, 64)}},
                    {"Piano (voice 4)", {note(0, 192, 60)}}}},
        // Two voices for four notes: the top and the bottom are kept.
        VoicesCase{"ChordInTwoVoices",
                   chordFile(),
                   2,
                   1,
                   {{"", {}},
                    {"Piano", {note(0, 96, 72), note(96, 192, 74)}},
                    {"Piano (voice 2)", {note(0, 192, 60)}}},
                   2},
        // An inner note held under a melody that falls below it yields there.
        VoicesCase{
            "InnerNoteCutShort",
            smf::file(0, 96,
                      {smf::Track()
                           .noteOn(0, 0, 72, 90)
                           .noteOn(0, 0, 60, 80)
                           .noteOff(96, 0, 72)
                           .noteOff(0, 0, 60)
                           .noteOn(0, 0, 67, 70)
                           .noteOn(48, 0, 76, 90)
                           .noteOff(48, 0, 76)
                           .noteOff(0, 0, 67)
                           .end()}),
            1,
            1,
            {{"", {}},
             {"", {note(0, 96, 72, 0, 90), note(96, 144, 67, 0, 70), note(144, 192, 76, 0, 90)}}},
            1,
            1},
        // Format 0: the meta events stay in track 0, each channel's voices follow.
        VoicesCase{"FormatZero",
                   smf::file(0, 96,
                             {smf::Track()
                                  .text(0, 0x03, "Song")
                                  .tempo(0, 400000)
                                  .noteOn(0, 1, 50, 100)
                                  .noteOn(0, 0, 70, 100)
                                  .noteOn(0, 0, 65, 100)
                                  .noteOff(96, 0, 70)
                                  .noteOff(0, 0, 65)
                                  .noteOff(0, 1, 50)
                                  .end()}),
                   0,
                   1,
                   {{"Song", {}},
                    {"Song (voice 1)", {note(0, 96, 70)}},
                    {"Song (voice 2)", {note(0, 96, 65)}},
                    {"Song (voice 3)", {note(0, 96, 50, 1)}}}},
        // Format 2 stays format 2; a track without notes is kept as it is;
        // a note never ended ends with its track.
        VoicesCase{"FormatTwo",
                   smf::file(2, 96,
                             {smf::Track()
                                  .tempo(0, 300000)
                                  .noteOn(0, 2, 40, 60)
                                  .noteOn(10, 2, 43, 60)
                                  .noteOff(10, 2, 40)
                                  .end(20),
                              smf::Track().text(0, 0x01, "no notes").end()}),
                   0,
                   2,
                   {{"", {note(0, 20, 40, 2, 60)}}, {"", {note(10, 40, 43, 2, 60)}}, {"", {}}}}));

// Every script a conversion of `song` writes, by name.
std::map<std::string, std::string> scriptsOf(const Song& song, bool packing) {
    testing_support::TempDir dir;
    testing::internal::CaptureStdout();
    EXPECT_EQ(mid2nolt::convert(song, (dir / "a").string(), 60, packing), 0);
    testing::internal::GetCapturedStdout();
    return testing_support::filesIn(dir.path());
}

// Each note's start in seconds, by (channel, key, start tick, end tick), as the
// file's tempo maps time it (each track's own in format 2).
std::vector<std::pair<Note, double>> timedNotes(const Song& song) {
    mid2nolt::SongTimeline timeline = mid2nolt::songTimeline(song);
    EXPECT_TRUE(mid2nolt::timeInSeconds(song, timeline));
    std::vector<std::pair<Note, double>> notes;
    std::size_t next = 0;
    for (const std::vector<Note>& track : mid2nolt::songNotes(song)) {
        for (Note note : track) {
            note.velocity = 0;
            notes.emplace_back(note, timeline.starts[next++]);
        }
    }
    std::sort(notes.begin(), notes.end());
    return notes;
}

struct TimingCase {
    const char* name;
    smf::Bytes file;
    std::uint16_t format;   // the option
    std::uint16_t written;  // the arranged file's format
    std::uint64_t notesAcross;
    std::uint64_t held = 0;
};

void PrintTo(const TimingCase& c, std::ostream* os) {
    *os << c.name;
}

class ArrangeTiming : public testing::TestWithParam<TimingCase> {};

// Every note line of the arranged conversion, at 60 Hz, starts within a
// driver tick of where a note of the file starts, by the source's tempo map,
// and none is silent; with --format 1 the drift is said instead.
TEST_P(ArrangeTiming, ScriptsKeepTheFilesTime) {
    const TimingCase& c = GetParam();
    const auto source = loadBytes(c.file);
    Arranged arranged;
    std::string error;
    ASSERT_TRUE(mid2nolt::arrange(*source, {0, c.format}, arranged.arrangement, error)) << error;
    arranged.song = loadBytes(fileBytes(arranged.arrangement));
    EXPECT_EQ(arranged.arrangement.format, c.written);
    EXPECT_EQ(arranged.arrangement.notesAcrossTempo, c.notesAcross);
    EXPECT_EQ(arranged.arrangement.temposHeld, c.held);
    const std::vector<std::pair<Note, double>> notes = timedNotes(*source);
    double worst = 0;
    std::size_t lines = 0;
    for (const auto& [name, text] : scriptsOf(*arranged.song, false)) {
        std::uint64_t ticks = 0;
        for (const auto& [kind, length] : timedLines(text)) {
            if (kind != "wait" && kind != "rest") {
                // (A span held to 1 microsecond a quarter note lasts no tick.)
                EXPECT_TRUE(length > 0 || c.held > 0) << name << " at driver tick " << ticks;
                double nearest = 1e9;
                for (const auto& [note, start] : notes) {
                    nearest = std::min(nearest, std::abs(start - ticks / 60.0));
                }
                worst = std::max(worst, nearest);
                ++lines;
            }
            ticks += length;
        }
    }
    EXPECT_EQ(lines, notes.size());
    if (c.format == 1 && c.notesAcross > 0) {
        EXPECT_GT(worst, 1 / 60.0);
        EXPECT_NEAR(arranged.arrangement.drift, worst, 1 / 60.0);
    } else if (c.held == 0) {
        EXPECT_LE(worst, 1 / 60.0);
    }
}

// A conductor that slows down by a twentieth of a beat each quarter beat for
// four beats, and a note held through it, then a scale.
smf::Bytes ritardando() {
    smf::Track conductor;
    for (int i = 0; i < 16; ++i) {
        conductor.tempo(i == 0 ? 0 : 24, 500000 + 25000 * static_cast<std::uint32_t>(i));
    }
    smf::Track notes = smf::Track().noteOn(0, 0, 60, 100).noteOff(384, 0, 60);
    for (int key = 62; key < 70; ++key) {
        notes.noteOn(0, 0, key, 100).noteOff(48, 0, key);
    }
    return smf::file(1, 96, {conductor.end(), notes.end()});
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ArrangeTiming,
    testing::Values(
        TimingCase{"HeldNoteAcrossARitardando", ritardando(), 0, 2, 1},
        TimingCase{"FormatOneDrifts", ritardando(), 1, 1, 1},
        // A chord across a change of tempo: each of its voices a map of its own.
        TimingCase{
            "ChordAcrossAChange",
            smf::file(1, 96,
                      {smf::Track().tempo(0, 500000).tempo(192, 250000).tempo(48, 1000000).end(),
                       smf::Track()
                           .noteOn(0, 0, 60, 100)
                           .noteOff(96, 0, 60)
                           .noteOn(0, 0, 62, 100)
                           .noteOff(96, 0, 62)
                           .noteOn(0, 0, 71, 100)
                           .noteOn(0, 0, 67, 100)
                           .noteOn(0, 0, 64, 100)
                           .noteOff(96, 0, 64)
                           .noteOff(0, 0, 67)
                           .noteOff(0, 0, 71)
                           .noteOn(192, 0, 65, 100)
                           .noteOff(96, 0, 65)
                           .end()}),
            0, 2, 3},
        // Changes in a rest, and where notes start and end, are timed by the
        // file's map itself: format 1 as before.
        TimingCase{
            "ChangesOnlyInRestsAndAtNoteEvents",
            smf::file(1, 96,
                      {smf::Track().tempo(0, 500000).tempo(144, 250000).tempo(48, 700000).end(),
                       smf::Track()
                           .noteOn(0, 0, 60, 100)
                           .noteOff(96, 0, 60)
                           .noteOn(96, 0, 62, 100)
                           .noteOff(96, 0, 62)
                           .end()}),
            0, 1, 0},
        // A change in a later track than the notes' is found all the same.
        TimingCase{"ChangeInALaterTrack",
                   smf::file(1, 96,
                             {smf::Track().end(),
                              smf::Track().noteOn(0, 0, 60, 100).noteOff(192, 0, 60).end(),
                              smf::Track().tempo(96, 1000000).end()}),
                   0, 2, 1},
        // After the change the file's tempo is 0: no MIDI tempo times that span.
        TimingCase{"TempoThatCannotBeWritten",
                   smf::file(1, 96,
                             {smf::Track()
                                  .tempo(0, 500000)
                                  .noteOn(0, 0, 60, 100)
                                  .tempo(96, 0)
                                  .noteOff(96, 0, 60)
                                  .noteOn(0, 0, 62, 100)
                                  .noteOff(96, 0, 62)
                                  .end()}),
                   0, 2, 1, 1}),
    [](const testing::TestParamInfo<TimingCase>& info) { return info.param.name; });

// A voice with a tempo map of its own, then a rest of 6,000 quarter notes
// under changing tempos: one tempo, rounded to a microsecond, would put the
// next note up to 3 ms off; each note stays within a tenth of a millisecond.
TEST(ArrangeTiming, ALongRestKeepsTheNextNoteOnTime) {
    constexpr std::uint64_t kRest = 6000 * 96;
    const auto source = loadBytes(smf::file(1, 96,
                                            {smf::Track()
                                                 .tempo(0, 500000)
                                                 .tempo(48, 400000)
                                                 .tempo(96000 - 48, 500000)
                                                 .tempo(288000, 500001)
                                                 .end(),
                                             smf::Track()
                                                 .noteOn(0, 0, 60, 100)
                                                 .noteOff(96, 0, 60)
                                                 .noteOn(kRest, 0, 62, 100)
                                                 .noteOff(96, 0, 62)
                                                 .end()}));
    Arranged arranged;
    std::string error;
    ASSERT_TRUE(mid2nolt::arrange(*source, {}, arranged.arrangement, error)) << error;
    arranged.song = loadBytes(fileBytes(arranged.arrangement));
    ASSERT_EQ(arranged.arrangement.format, 2);
    const auto before = timedNotes(*source);
    const auto after = timedNotes(*arranged.song);
    ASSERT_EQ(before.size(), after.size());
    for (std::size_t n = 0; n < before.size(); ++n) {
        EXPECT_EQ(before[n].first, after[n].first);
        EXPECT_NEAR(before[n].second, after[n].second, 1e-4) << "note " << n;
    }
}

// On every shared file: the arranged file holds exactly the source's notes,
// at the same times (within 1 ms), each voice track sounds one note at a time, and its conversion
// writes (almost) no note line of 0 ticks where the plain conversion writes many.
TEST(ArrangeSamples, KeepEveryNoteInMonophonicVoices) {
    const std::vector<fs::path> files = testing_support::sharedSamples();
    if (files.empty()) {
        GTEST_SKIP() << "no shared MIDI files in " << testing_support::kSharedSamples;
    }
    std::size_t plainSilent = 0;
    std::size_t arrangedSilent = 0;
    std::size_t arrangedLines = 0;
    for (const fs::path& file : files) {
        SCOPED_TRACE(file.filename().string());
        const auto source = loadBytes([&] {
            const std::string text = testing_support::readFile(file);
            return mid2nolt::Bytes(text.begin(), text.end());
        }());
        const Arranged arranged = arrangeSong(*source);
        ASSERT_EQ(allNotes(*arranged.song), allNotes(*source));
        // At the same times too, each track read by its own tempo map in format 2.
        if (source->division != 0 && (source->division & 0x8000) == 0) {
            const std::vector<std::pair<Note, double>> before = timedNotes(*source);
            const std::vector<std::pair<Note, double>> after = timedNotes(*arranged.song);
            ASSERT_EQ(before.size(), after.size());
            for (std::size_t i = 0; i < before.size(); ++i) {
                ASSERT_EQ(before[i].first, after[i].first);
                ASSERT_NEAR(before[i].second, after[i].second, 1e-3)
                    << "note at tick " << before[i].first.start;
            }
        }
        std::vector<std::vector<Note>> voices = mid2nolt::songNotes(*arranged.song);
        for (const mid2nolt::PartReport& part : arranged.arrangement.parts) {
            for (std::uint32_t t = part.firstTrack;
                 part.channel && t < part.firstTrack + part.trackCount; ++t) {
                std::sort(voices[t].begin(), voices[t].end());
                ASSERT_EQ(overlap(voices[t]), "") << "track " << t;
            }
        }
        const auto count = [&](const Song& song, std::size_t& silent, std::size_t* lines) {
            for (const auto& [name, text] : scriptsOf(song, false)) {
                for (const auto& [word, length] : timedLines(text)) {
                    if (isNoteLine(word)) {
                        silent += length == 0;
                        lines && ++*lines;
                    }
                }
            }
        };
        count(*source, plainSilent, nullptr);
        count(*arranged.song, arrangedSilent, &arrangedLines);
    }
    RecordProperty("plain_silent", std::to_string(plainSilent));
    RecordProperty("arranged_silent", std::to_string(arrangedSilent));
    std::printf("0-tick note lines: plain %zu, arranged %zu of %zu\n", plainSilent, arrangedSilent,
                arrangedLines);
    EXPECT_LT(arrangedSilent * 50, arrangedLines);
}

}  // namespace
