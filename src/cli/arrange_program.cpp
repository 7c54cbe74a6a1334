// The arranger's command line: options, console and exit status.

#include "cli/arrange_program.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "arrange/arranger.h"
#include "cli/arrange_options.h"
#include "cli/fit_console.h"
#include "cli/process.h"
#include "fit/channel_fit.h"
#include "fit/fitted_song.h"
#include "midi/messages.h"
#include "midi/smf_writer.h"
#include "midi/song.h"

namespace {

using mid2nolt::cli::File;
using mid2nolt::cli::kFailure;
using mid2nolt::cli::kSuccess;

// "dir/song.mid" becomes "dir/song-arranged.mid": the extension of the last
// name is replaced, a name without one is extended.
std::string arrangedName(const std::string& source) {
    const std::size_t slash = source.find_last_of("/\\");
    const std::size_t dot = source.rfind('.');
    const bool hasExtension =
        dot != std::string::npos && (slash == std::string::npos || dot > slash + 1);
    return source.substr(0, hasExtension ? dot : source.size()) + "-arranged.mid";
}

bool sameFile(const std::string& a, const std::string& b) {
    if (a == b) {
        return true;
    }
    try {
        std::error_code error;
        return std::filesystem::equivalent(a, b, error);
    } catch (const std::exception&) {
        return false;
    }
}

void printParts(const mid2nolt::Arranger& arranger) {
    mid2nolt::cli::arrangeRecord.parts = arranger.parts();
    for (const mid2nolt::PartReport& part : arranger.parts()) {
        if (!part.channel) {
            std::printf(part.hasNotes ? "Track %u : events other than notes kept in Track %u\n"
                                      : "Track %u has no notes : kept as Track %u\n",
                        part.track, part.firstTrack);
            continue;
        }
        std::printf(
            "Track %u, Channel %u : %llu note(s) in %u voice(s), %llu left out, "
            "%llu cut short : ",
            part.track, unsigned{*part.channel}, static_cast<unsigned long long>(part.notes),
            part.trackCount, static_cast<unsigned long long>(part.leftOut),
            static_cast<unsigned long long>(part.cutShort));
        if (part.trackCount == 1) {
            std::printf("Track %u\n", part.firstTrack);
        } else {
            std::printf("Tracks %u to %u\n", part.firstTrack,
                        part.firstTrack + part.trackCount - 1);
        }
    }
}

// What the written file does to the timing: where voices keep the file's
// tempo across changes inside their notes, how far the scripts will drift (in
// milliseconds, as integers, so that every platform prints the same); spans
// whose tempo could not be written.
void printTiming(const mid2nolt::Arranger& arranger) {
    if (!arranger.ownTempoMaps() && arranger.notesAcrossTempo() > 0 && arranger.drift() >= 0) {
        const auto ms = static_cast<unsigned long long>(std::llround(arranger.drift() * 1000));
        std::printf(
            "Tempo changes inside %llu sounding note(s): the scripts will drift by up to "
            "%llu.%03llu s (format 1)\n",
            static_cast<unsigned long long>(arranger.notesAcrossTempo()), ms / 1000, ms % 1000);
    }
    if (arranger.temposHeld() > 0) {
        std::printf(
            "Tempo of %llu span(s) beyond what a MIDI File can say : held to 1 to 16777215 "
            "microseconds a quarter note\n",
            static_cast<unsigned long long>(arranger.temposHeld()));
    }
}

// Puts the finished file under the output's name. Rename replaces a file in
// one step where it can (POSIX); where it cannot (Windows), an old output that
// is a regular file goes first. Nothing else is ever removed: a folder or
// anything but a file under the name stays, and the write fails.
bool replaceWith(const std::string& temporary, const std::string& output) {
    if (std::rename(temporary.c_str(), output.c_str()) == 0) {
        return true;
    }
#ifdef _WIN32
    std::error_code error;
    if (std::filesystem::is_regular_file(output, error) && std::remove(output.c_str()) == 0) {
        return std::rename(temporary.c_str(), output.c_str()) == 0;
    }
#endif
    return false;
}

bool isFolder(const std::string& path) {
    std::error_code error;
    return std::filesystem::is_directory(path, error);
}

// Written under a temporary name beside the output, track by track as they
// are made, then renamed over it: a failed run never leaves a partial file
// under the output's name.
bool saveArrangement(mid2nolt::Arranger& arranger, std::uint16_t division,
                     const std::string& output) {
    const std::string temporary = output + ".part";
    std::FILE* file = std::fopen(temporary.c_str(), "wb");
    if (file == nullptr) {
        std::fprintf(stderr, "%s%s\n",
                     "ERROR- Couldn't create arranged MIDI File : ", output.c_str());
        return false;
    }
    bool written =
        mid2nolt::writeSmfHeader(file, arranger.format(),
                                 static_cast<std::uint16_t>(arranger.trackCount()), division) &&
        arranger.write([file](std::span<const std::uint8_t> track) {
            return mid2nolt::writeSmfTrack(file, track);
        });
    written = std::fclose(file) == 0 && written && replaceWith(temporary, output);
    if (!written) {
        std::remove(temporary.c_str());
        std::fprintf(stderr, "%s%s\n",
                     "ERROR- Couldn't write arranged MIDI File : ", output.c_str());
    } else {
        mid2nolt::cli::arrangeRecord.file = output;
    }
    return written;
}

// Whether the arranged file may go under `output`: neither a folder nor the
// source itself; says why not.
bool outputUsable(const char* source, const std::string& output) {
    if (isFolder(output)) {
        std::fprintf(stderr, "%s%s\n", "ERROR- Output File is a Folder : ", output.c_str());
        return false;
    }
    if (sameFile(source, output)) {
        std::fprintf(stderr, "%s%s\n", "ERROR- Output File is the Source File : ", output.c_str());
        return false;
    }
    return true;
}

// Fits the song to the channels asked for, into `fit`; false, with the
// error said, where it cannot.
bool fitToChannels(std::unique_ptr<mid2nolt::Song> song,
                   const mid2nolt::cli::ArrangeCommandLine& options,
                   std::optional<mid2nolt::ChannelFit>& fit) {
    if (song->format == 2) {
        std::fprintf(stderr, "%s%u\n",
                     "ERROR- Can't Fit Channels of MIDI File Format : ", unsigned{song->format});
        return false;
    }
    std::printf("Fitting Track Data to %u Channel(s)...\n", options.channels);
    std::string error;
    if (!mid2nolt::fitChannels(
            std::move(song),
            {options.channels, options.drums.value_or(mid2nolt::DrumChoice::Auto), options.melody,
             options.arpeggio, options.frequency.value_or(60)},
            fit.emplace(), error)) {
        std::fprintf(stderr, "ERROR- %s\n", error.c_str());
        return false;
    }
    return true;
}

// What the plan makes of the source: the fit's channels, or each part's
// voices; and where voices carry tempo maps of their own.
void printPlan(const mid2nolt::Arranger& arranger, std::optional<mid2nolt::ChannelFit> fit,
               std::uint32_t channels) {
    using mid2nolt::cli::arrangeRecord;
    if (fit) {
        std::vector<std::uint32_t> tracks = mid2nolt::cli::fittedTracks(*fit, arranger);
        mid2nolt::cli::printFit(*fit, tracks, channels);
        arrangeRecord.fitChannels = channels;
        arrangeRecord.fitTracks = std::move(tracks);
        arrangeRecord.fit = std::move(fit);
    } else {
        printParts(arranger);
    }
    arrangeRecord.notesAcrossTempo = arranger.notesAcrossTempo();
    arrangeRecord.ownTempoMaps = arranger.ownTempoMaps();
    if (arranger.ownTempoMaps()) {
        std::printf(
            "Tempo changes inside %llu sounding note(s): each voice track carries its own tempo "
            "map (format 2)\n",
            static_cast<unsigned long long>(arranger.notesAcrossTempo()));
    }
}

}  // namespace

mid2nolt::cli::ArrangeRecord mid2nolt::cli::arrangeRecord;

int mid2nolt::cli::arrangeProgram(int argc, char** argv) {
    arrangeRecord = {};
    if (mid2nolt::cli::answerQuery(argc, argv, "mid2nolt-arrange", mid2nolt::cli::kArrangeUsage,
                                   mid2nolt::cli::kArrangeHelp)) {
        return kSuccess;
    }
    if (argc < 2 || argc > 10) {
        std::fprintf(stderr, "%s%s", mid2nolt::cli::kArrangeUsage, mid2nolt::cli::kArrangeHelp);
        return kFailure;
    }
    mid2nolt::cli::ArrangeCommandLine options;
    if (!mid2nolt::cli::readArrangeOptions(argc, argv, options)) {
        return kFailure;
    }
    const std::string output =
        options.output.empty() ? arrangedName(options.source) : options.output;
    const File source(std::fopen(options.source, "rb"));
    if (!source) {
        std::fprintf(stderr, "%s%s\n", mid2nolt::messages::kCantOpenSource, options.source);
        return kFailure;
    }
    if (!outputUsable(options.source, output)) {
        return kFailure;
    }

    std::printf("%s%s\n", mid2nolt::messages::kReadingSource, options.source);
    auto song = std::make_unique<mid2nolt::Song>();
    if (mid2nolt::loadSong(source.get(), *song) != 0) {
        return kFailure;
    }
    // A fit is a song of its own, which the arranger times as it times any
    // song; the fit lets the source go once read.
    std::optional<mid2nolt::ChannelFit> fit;
    std::unique_ptr<mid2nolt::SongSource> arranged;
    if (options.channels != 0) {
        if (!fitToChannels(std::move(song), options, fit)) {
            return kFailure;
        }
        arranged = std::make_unique<mid2nolt::FittedSong>(*fit);
    } else {
        std::printf("Arranging Track Data...\n");
        arranged = std::make_unique<mid2nolt::SongChunks>(*song);
    }
    mid2nolt::Arranger arranger(*arranged, {options.maxVoices, options.format});
    std::string error;
    if (!arranger.plan(error)) {
        std::fprintf(stderr, "ERROR- %s\n", error.c_str());
        return kFailure;
    }
    printPlan(arranger, std::move(fit), options.channels);
    std::printf("Saving MIDI File Format %u with %u track(s) : %s\n", unsigned{arranger.format()},
                arranger.trackCount(), output.c_str());
    if (!saveArrangement(arranger, arranged->division(), output)) {
        return kFailure;
    }
    printTiming(arranger);
    std::printf("%s", mid2nolt::messages::kDone);
    return kSuccess;
}
