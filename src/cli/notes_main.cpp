// The file's notes as the core reads them, for the browser module: the
// WebAssembly core runs this when called by the name mid2nolt-notes, so that
// what the module counts a conversion against is what the converter read.

#include <cstdint>
#include <cstdio>
#include <memory>
#include <vector>

#include "arrange/arranger.h"
#include "cli/process.h"
#include "midi/song.h"

#ifdef __EMSCRIPTEN__
#include <emscripten/emscripten.h>

// Hands everything over in one call, as compact arrays copied out of the
// core's memory: per track its count of notes and of tempo changes, then all
// notes (ticks as doubles, exact to 2^53) and all tempo changes in order.
// clang-format off
EM_JS(void, reportFileNotes, (std::uint32_t format, std::uint32_t division, std::uint32_t tracks,
                              const std::uint32_t* noteCounts, std::uint32_t notes,
                              const double* starts, const double* ends,
                              const std::uint8_t* channels, const std::uint8_t* keys,
                              const std::uint32_t* tempoCounts, std::uint32_t changes,
                              const double* tempoTicks, const std::uint32_t* tempos), {
    if (!Module["onFileNotes"]) return;
    const u32 = (at, count) => HEAPU32.slice(at >> 2, (at >> 2) + count);
    const f64 = (at, count) => HEAPF64.slice(at >> 3, (at >> 3) + count);
    Module["onFileNotes"]({
        format, division,
        noteCounts: u32(noteCounts, tracks), starts: f64(starts, notes), ends: f64(ends, notes),
        channels: HEAPU8.slice(channels, channels + notes), keys: HEAPU8.slice(keys, keys + notes),
        tempoCounts: u32(tempoCounts, tracks), tempoTicks: f64(tempoTicks, changes),
        tempos: u32(tempos, changes),
    });
});
// clang-format on
#endif

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
    std::vector<std::uint32_t> noteCounts;
    std::vector<double> starts;
    std::vector<double> ends;
    std::vector<std::uint8_t> channels;
    std::vector<std::uint8_t> keys;
    for (const std::vector<Note>& track : songNotes(*song)) {
        noteCounts.push_back(static_cast<std::uint32_t>(track.size()));
        for (const Note& note : track) {
            starts.push_back(static_cast<double>(note.start));
            ends.push_back(static_cast<double>(note.end));
            channels.push_back(note.channel);
            keys.push_back(note.key);
        }
    }
    std::vector<std::uint32_t> tempoCounts;
    std::vector<double> tempoTicks;
    std::vector<std::uint32_t> tempos;
    for (const std::vector<TempoChange>& track : songTempos(*song)) {
        tempoCounts.push_back(static_cast<std::uint32_t>(track.size()));
        for (const TempoChange& change : track) {
            tempoTicks.push_back(static_cast<double>(change.tick));
            tempos.push_back(change.tempo);
        }
    }
#ifdef __EMSCRIPTEN__
    reportFileNotes(song->format, song->division, static_cast<std::uint32_t>(noteCounts.size()),
                    noteCounts.data(), static_cast<std::uint32_t>(starts.size()), starts.data(),
                    ends.data(), channels.data(), keys.data(), tempoCounts.data(),
                    static_cast<std::uint32_t>(tempoTicks.size()), tempoTicks.data(),
                    tempos.data());
#endif
    return kSuccess;
}
