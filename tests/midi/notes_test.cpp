// The notes of a file: paired, laid out as a timeline and timed in seconds.

#include "midi/notes.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "support/conversion_fixture.h"
#include "support/smf_builder.h"
#include "support/test_files.h"

namespace {

namespace fs = std::filesystem;
using mid2nolt::Note;
using mid2nolt::Song;

// A song's notes track by track, as songTimeline lays them out and as
// songNotes lists them (velocities left out).
std::vector<std::vector<Note>> timelineNotes(const Song& song) {
    const mid2nolt::SongTimeline timeline = mid2nolt::songTimeline(song);
    std::vector<std::vector<Note>> tracks;
    std::size_t next = 0;
    for (const std::uint32_t count : timeline.trackNotes) {
        std::vector<Note>& notes = tracks.emplace_back();
        for (const std::size_t end = next + count; next < end; ++next) {
            notes.push_back({static_cast<std::uint64_t>(timeline.starts[next]),
                             static_cast<std::uint64_t>(timeline.ends[next]),
                             timeline.channels[next], timeline.keys[next], 0});
        }
    }
    EXPECT_EQ(next, timeline.starts.size());
    return tracks;
}
std::vector<std::vector<Note>> notesWithoutVelocity(const Song& song) {
    std::vector<std::vector<Note>> tracks = mid2nolt::songNotes(song);
    for (std::vector<Note>& notes : tracks) {
        for (Note& note : notes) {
            note.velocity = 0;
        }
    }
    return tracks;
}

// On every shared file: the timeline pairs notes as songNotes does.
TEST(NoteSamples, TimelinePairsAsSongNotes) {
    const std::vector<fs::path> files = testing_support::sharedSamples();
    if (files.empty()) {
        GTEST_SKIP() << "no shared MIDI files in " << testing_support::kSharedSamples;
    }
    for (const fs::path& file : files) {
        SCOPED_TRACE(file.filename().string());
        const std::string text = testing_support::readFile(file);
        std::FILE* stream = std::tmpfile();
        std::fwrite(text.data(), 1, text.size(), stream);
        std::rewind(stream);
        Song song;
        testing::internal::CaptureStdout();
        testing::internal::CaptureStderr();
        const bool loaded = mid2nolt::loadSong(stream, song) == 0;
        testing::internal::GetCapturedStdout();
        testing::internal::GetCapturedStderr();
        std::fclose(stream);
        ASSERT_TRUE(loaded);
        ASSERT_EQ(timelineNotes(song), notesWithoutVelocity(song));
    }
}

struct TimingCase {
    const char* name;
    std::uint16_t format;
    std::uint16_t division;
    std::vector<smf::Track> tracks;
    std::vector<double> starts;  // every note's start in seconds, track after track; none: untimed
};

void PrintTo(const TimingCase& c, std::ostream* os) {
    *os << c.name;
}

class Timing : public testing::TestWithParam<TimingCase> {};

TEST_P(Timing, FollowsTheSongsTempoMap) {
    const TimingCase& c = GetParam();
    std::vector<smf::Bytes> chunks;
    for (const smf::Track& track : c.tracks) {
        chunks.push_back(track.bytes());
    }
    const auto song = testing_support::songOf(c.format, c.division, chunks);
    mid2nolt::SongTimeline timeline = mid2nolt::songTimeline(*song);
    const bool timed = mid2nolt::timeInSeconds(*song, timeline);
    EXPECT_EQ(timed, !c.starts.empty());
    if (timed) {
        EXPECT_EQ(timeline.starts, c.starts);
    }
}

// A tempo of 1 s a quarter note from tick 96 in track 0, and a note at tick
// 192 in track 1.
smf::Track tempoTrack() {
    return smf::Track().tempo(96, 1000000).end();
}
smf::Track noteTrack() {
    return smf::Track().noteOn(192, 0, 60, 100).noteOff(96, 0, 60).end();
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Timing,
    testing::Values(
        // One map for the song: track 0's tempo times track 1's note.
        TimingCase{"Format1SharesTheMap", 1, 96, {tempoTrack(), noteTrack()}, {1.5}},
        // Each track its own: track 1 keeps the default tempo.
        TimingCase{"Format2TrackOwnsItsMap", 2, 96, {tempoTrack(), noteTrack()}, {1.0}},
        TimingCase{"Format2TempoInTheTrack",
                   2,
                   96,
                   {smf::Track().tempo(96, 1000000).noteOn(96, 0, 60, 100).end()},
                   {1.5}},
        TimingCase{"SmpteFramesAreNotTimed", 1, 0xE728, {noteTrack()}, {}},
        TimingCase{"DivisionZeroIsNotTimed", 1, 0, {noteTrack()}, {}}),
    [](const testing::TestParamInfo<TimingCase>& info) { return info.param.name; });

}  // namespace
