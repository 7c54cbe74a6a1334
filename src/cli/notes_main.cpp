// The file's notes as the core reads them, for the browser module: the
// WebAssembly core runs this when called by the name mid2nolt-notes, so that
// what the module counts a conversion against is what the converter read.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <vector>

#include "arrange/arranger.h"
#include "cli/process.h"
#include "midi/song.h"

#ifdef __EMSCRIPTEN__
#include <emscripten/emscripten.h>

// Hands everything over in one call, as compact arrays: per track its count
// of notes, then all notes in order, their times in seconds. The notes are
// views of the core's memory, valid only during the call; the module reads
// them there, so that millions of notes are never copied.
// clang-format off
EM_JS(void, reportFileNotes, (std::uint32_t tracks, const std::uint32_t* noteCounts,
                              std::uint32_t notes, const double* starts, const double* ends,
                              const std::uint8_t* channels, const std::uint8_t* keys), {
    if (!Module["onFileNotes"]) return;
    Module["onFileNotes"]({
        noteCounts: HEAPU32.subarray(noteCounts >> 2, (noteCounts >> 2) + tracks),
        starts: HEAPF64.subarray(starts >> 3, (starts >> 3) + notes),
        ends: HEAPF64.subarray(ends >> 3, (ends >> 3) + notes),
        channels: HEAPU8.subarray(channels, channels + notes),
        keys: HEAPU8.subarray(keys, keys + notes),
    });
});
// clang-format on
#endif

namespace {

struct TempoStep {
    double tick = 0;
    double seconds = 0;
    double tempo = 500000;  // 120 a minute until the first change
};

// Turns ticks into seconds, in place, by tempo changes in order of tick: each
// tick timed from the last change at or before it.
class SecondsMap {
public:
    SecondsMap(const std::vector<mid2nolt::TempoChange>& changes, std::uint32_t division)
        : division_(division) {
        for (const mid2nolt::TempoChange& change : changes) {
            const auto tick = static_cast<double>(change.tick);
            steps_.push_back(
                {tick, secondsAt(steps_.back(), tick), static_cast<double>(change.tempo)});
        }
    }

    // Times notes: their starts, in order, and their ends, none before its start.
    void toSeconds(double* starts, double* ends, std::size_t count) const {
        std::size_t step = 0;
        for (std::size_t i = 0; i < count; ++i) {
            step = stepAt(starts[i], step);
            const std::size_t endStep = stepAt(ends[i], step);
            starts[i] = secondsAt(steps_[step], starts[i]);
            ends[i] = secondsAt(steps_[endStep], ends[i]);
        }
    }

private:
    // The last step at or before `tick`, looked for from step `from` on when
    // that is at or before it: a few steps on, mostly.
    std::size_t stepAt(double tick, std::size_t from) const {
        if (steps_[from].tick > tick) {
            from = 0;
        }
        for (int i = 0; i < 8; ++i, ++from) {
            if (from + 1 == steps_.size() || steps_[from + 1].tick > tick) {
                return from;
            }
        }
        const auto after =
            std::upper_bound(steps_.begin() + static_cast<std::ptrdiff_t>(from), steps_.end(), tick,
                             [](double t, const TempoStep& s) { return t < s.tick; });
        return static_cast<std::size_t>(after - steps_.begin()) - 1;
    }
    double secondsAt(const TempoStep& step, double tick) const {
        return step.seconds + (tick - step.tick) * step.tempo / 1e6 / division_;
    }
    double division_;
    std::vector<TempoStep> steps_{TempoStep{}};
};

}  // namespace

int mid2nolt::cli::notesProgram(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "%s", "Usage:\nmid2nolt-notes infile.mid\n");
        return kFailure;
    }
    const File source(std::fopen(argv[1], "rb"));
    if (!source) {
        std::fprintf(stderr, "%s%s\n", "ERROR- Can't Open Source File: ", argv[1]);
        return kFailure;
    }
    auto song = std::make_unique<Song>();
    if (loadSong(source.get(), *song) != 0) {
        return kFailure;
    }
    // Times in seconds need ticks a quarter note, not SMPTE frames.
    if (song->division == 0 || (song->division & 0x8000) != 0) {
        return kSuccess;
    }
    SongTimeline timeline = songTimeline(*song);
    // One tempo map for the song, earlier tracks first at one tick; a
    // format-2 file's tracks are songs of their own.
    const std::vector<std::vector<TempoChange>>& changes = timeline.tempos;
    std::vector<TempoChange> all;
    for (const std::vector<TempoChange>& track : changes) {
        all.insert(all.end(), track.begin(), track.end());
    }
    std::stable_sort(all.begin(), all.end(),
                     [](const TempoChange& a, const TempoChange& b) { return a.tick < b.tick; });
    const SecondsMap shared(all, song->division);
    std::size_t first = 0;
    for (std::size_t track = 0; track < changes.size(); ++track) {
        const SecondsMap own(song->format == 2 ? changes[track] : std::vector<TempoChange>{},
                             song->division);
        const SecondsMap& map = song->format == 2 ? own : shared;
        const std::uint32_t count = timeline.trackNotes[track];
        map.toSeconds(timeline.starts.data() + first, timeline.ends.data() + first, count);
        first += count;
    }
#ifdef __EMSCRIPTEN__
    reportFileNotes(static_cast<std::uint32_t>(timeline.trackNotes.size()),
                    timeline.trackNotes.data(), static_cast<std::uint32_t>(timeline.starts.size()),
                    timeline.starts.data(), timeline.ends.data(), timeline.channels.data(),
                    timeline.keys.data());
#endif
    return kSuccess;
}
