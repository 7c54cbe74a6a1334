// The WebAssembly core's functions, as the browser module calls them: the
// converter's and the arranger's command lines, and the reading of a file's
// notes. Each runs on a fresh instance, reads its arguments from one string
// and hands what the run did to the module's callbacks once it has run.

#include <emscripten/emscripten.h>

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "cli/arrange_program.h"
#include "cli/process.h"
#include "convert/run_record.h"
#include "midi/messages.h"
#include "midi/notes.h"
#include "midi/song.h"

// Counts go as doubles, exact to 2^53. The notes are views of the core's
// memory, valid only during the call; the module reads them there, so that
// millions of notes are never copied.
// clang-format off
EM_JS(void, reportDriverFrequency, (std::uint32_t frequency), {
    if (Module["onDriverFrequency"]) Module["onDriverFrequency"](frequency >>> 0);
});
EM_JS(void, reportScript, (const char* name, std::uint32_t track, std::int32_t channel), {
    if (Module["onScriptCreated"])
        Module["onScriptCreated"](UTF8ToString(name), track >>> 0, channel < 0 ? null : channel);
});
EM_JS(void, reportArrangedFile, (const char* name), {
    if (Module["onArrangedFile"]) Module["onArrangedFile"](UTF8ToString(name));
});
EM_JS(void, reportArrangedPart, (std::uint32_t track, std::int32_t channel, double notes,
                                 double leftOut, double cutShort, std::uint32_t firstTrack,
                                 std::uint32_t trackCount), {
    if (Module["onArrangedPart"])
        Module["onArrangedPart"]({track: track >>> 0, channel: channel < 0 ? null : channel,
                                  notes, leftOut, cutShort, firstTrack: firstTrack >>> 0,
                                  trackCount: trackCount >>> 0});
});
EM_JS(void, reportFitChannel, (const char* role, std::uint32_t midiChannel, std::uint32_t track,
                               double notes, double cutShort, double arpeggiated, double steps,
                               const char* sources), {
    if (Module["onFitChannel"])
        Module["onFitChannel"]({role: UTF8ToString(role), midiChannel: midiChannel >>> 0,
                                track: track >>> 0, notes, cutShort, arpeggiated, steps,
                                sources: JSON.parse(UTF8ToString(sources))});
});
EM_JS(void, reportFit, (std::uint32_t channels, double notes, double keptWhole, double cutShort,
                        double arpeggiated, double most), {
    if (Module["onFit"])
        Module["onFit"]({channels: channels >>> 0, notes, keptWhole, cutShort, arpeggiated, most});
});
EM_JS(void, reportFitPart, (std::uint32_t track, std::uint32_t channel, const std::uint8_t* name,
                            std::uint32_t nameLength, std::int32_t program), {
    if (!Module["onFitPart"]) return;
    // A name is bytes as the file writes them: one character each.
    let text = "";
    for (let i = 0; i < nameLength; i++) text += String.fromCharCode(HEAPU8[name + i]);
    Module["onFitPart"]({track: track >>> 0, channel: channel >>> 0, name: text,
                         program: program < 0 ? null : program});
});
EM_JS(void, reportFitTune, (const char* from, const std::uint32_t* parts, std::uint32_t count,
                            std::uint32_t through), {
    if (!Module["onFitTune"]) return;
    const lead = [];
    for (let i = 0; i < count; i++) lead.push(HEAPU32[(parts >> 2) + i]);
    Module["onFitTune"]({from: UTF8ToString(from), parts: lead, through: through >>> 0});
});
EM_JS(void, reportArrangedTempo, (double notesAcross, int ownMaps), {
    if (Module["onArrangedTempo"]) Module["onArrangedTempo"](notesAcross, ownMaps !== 0);
});
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

namespace {

using mid2nolt::cli::kFailure;
using mid2nolt::cli::kSuccess;

// Runs a command line on `count` arguments, each ended by a NUL byte, with
// `program` as its name; the console is flushed before the module reads it.
int runCommandLine(const char* program, int (*run)(int, char**), const char* args, int count) {
    std::vector<std::string> words{program};
    for (int i = 0; i < count; ++i) {
        words.emplace_back(args);
        args += words.back().size() + 1;
    }
    std::vector<char*> argv;
    for (std::string& word : words) {
        argv.push_back(word.data());
    }
    argv.push_back(nullptr);
    const int status = mid2nolt::cli::runProgram(run, static_cast<int>(words.size()), argv.data());
    std::fflush(stdout);
    std::fflush(stderr);
    return status;
}

// Where the Melody channel's tune came from, as the module names it.
const char* tuneFrom(mid2nolt::TuneFrom from) {
    switch (from) {
        case mid2nolt::TuneFrom::Asked: return "asked";
        case mid2nolt::TuneFrom::Named: return "named";
        case mid2nolt::TuneFrom::Heard: return "heard";
        case mid2nolt::TuneFrom::Skyline: break;
    }
    return "skyline";
}

int readNotes(const char* name) {
    const mid2nolt::cli::File source(std::fopen(name, "rb"));
    if (!source) {
        std::fprintf(stderr, "%s%s\n", mid2nolt::messages::kCantOpenSource, name);
        return kFailure;
    }
    auto song = std::make_unique<mid2nolt::Song>();
    if (mid2nolt::loadSong(source.get(), *song) != 0) {
        return kFailure;
    }
    mid2nolt::SongTimeline timeline = mid2nolt::songTimeline(*song);
    // Times in seconds need ticks a quarter note, not SMPTE frames.
    if (mid2nolt::timeInSeconds(*song, timeline)) {
        reportFileNotes(static_cast<std::uint32_t>(timeline.trackNotes.size()),
                        timeline.trackNotes.data(),
                        static_cast<std::uint32_t>(timeline.starts.size()), timeline.starts.data(),
                        timeline.ends.data(), timeline.channels.data(), timeline.keys.data());
    }
    return kSuccess;
}

}  // namespace

extern "C" {

// `mid2nolt source options...`, its scripts and driver frequency reported.
EMSCRIPTEN_KEEPALIVE int mid2nolt_convert(const char* args, int count) {
    const int status = runCommandLine("mid2nolt", mid2nolt::cli::convertProgram, args, count);
    const mid2nolt::RunRecord& record = mid2nolt::runRecord;
    if (record.driverFrequency) {
        reportDriverFrequency(*record.driverFrequency);
    }
    for (const mid2nolt::ScriptRecord& script : record.scripts) {
        reportScript(script.name.c_str(), script.track,
                     script.channel ? static_cast<std::int32_t>(*script.channel) : -1);
    }
    return status;
}

// `mid2nolt-arrange source options...`, its parts and file reported.
EMSCRIPTEN_KEEPALIVE int mid2nolt_arrange(const char* args, int count) {
    const int status =
        runCommandLine("mid2nolt-arrange", mid2nolt::cli::arrangeProgram, args, count);
    const mid2nolt::cli::ArrangeRecord& record = mid2nolt::cli::arrangeRecord;
    for (const mid2nolt::PartReport& part : record.parts) {
        reportArrangedPart(part.track, part.channel ? std::int32_t{*part.channel} : -1,
                           static_cast<double>(part.notes), static_cast<double>(part.leftOut),
                           static_cast<double>(part.cutShort), part.firstTrack, part.trackCount);
    }
    if (record.fit) {
        const mid2nolt::ChannelFit& fit = *record.fit;
        for (std::size_t c = 0; c < fit.channels.size(); ++c) {
            const mid2nolt::FitChannel& channel = fit.channels[c];
            // The parts it took notes from, as [track, channel, notes] triples.
            std::string sources = "[";
            for (std::size_t p = 0; p < fit.parts.size(); ++p) {
                if (channel.fromPart[p] != 0) {
                    sources += (sources.size() > 1 ? ",[" : "[") +
                               std::to_string(fit.parts[p].track) + "," +
                               std::to_string(fit.parts[p].channel) + "," +
                               std::to_string(channel.fromPart[p]) + "]";
                }
            }
            sources += "]";
            reportFitChannel(mid2nolt::roleName(channel).c_str(), channel.midiChannel,
                             c < record.fitTracks.size() ? record.fitTracks[c] : 0,
                             static_cast<double>(channel.noteCount),
                             static_cast<double>(channel.cutShort),
                             static_cast<double>(channel.arpeggiated),
                             static_cast<double>(channel.steps), sources.c_str());
        }
        for (const mid2nolt::SourcePart& part : fit.parts) {
            reportFitPart(part.track, part.channel,
                          reinterpret_cast<const std::uint8_t*>(part.name.data()),
                          static_cast<std::uint32_t>(part.name.size()), part.program);
        }
        reportFitTune(tuneFrom(fit.tune.from), fit.tune.parts.data(),
                      static_cast<std::uint32_t>(fit.tune.parts.size()), fit.tune.through);
        reportFit(record.fitChannels, static_cast<double>(fit.notes),
                  static_cast<double>(fit.keptWhole), static_cast<double>(fit.cutShort),
                  static_cast<double>(fit.arpeggiated), static_cast<double>(fit.most));
    }
    reportArrangedTempo(static_cast<double>(record.notesAcrossTempo), record.ownTempoMaps ? 1 : 0);
    if (record.file) {
        reportArrangedFile(record.file->c_str());
    }
    return status;
}

// The notes of the file named by the one argument, as the core reads them,
// timed in seconds by its tempo map; none reported when it does not load or
// counts SMPTE frames.
EMSCRIPTEN_KEEPALIVE int mid2nolt_file_notes(const char* args, int count) {
    return runCommandLine(
        "mid2nolt-notes",
        [](int argc, char** argv) { return argc == 2 ? readNotes(argv[1]) : kFailure; }, args,
        count);
}

}  // extern "C"
