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
#include "cli/fit_console.h"
#include "cli/frequency_option.h"
#include "cli/process.h"
#include "fit/channel_fit.h"
#include "fit/fitted_song.h"
#include "midi/messages.h"
#include "midi/smf_writer.h"
#include "midi/song.h"

namespace {

constexpr const char* kUsage =
    "Usage:\nmid2nolt-arrange infile.mid -o[outfile.mid] --voices[N] --format[1]\n"
    "mid2nolt-arrange infile.mid --channels[N] --drums|--no-drums --melody[T[:C]]\n"
    "\t--arpeggio[K] -f[Custom Frequency] -o[outfile.mid] --format[1]\n";
constexpr const char* kHelp =
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
constexpr const char* kInvalidParameter = "ERROR- Invalid Arrange Parameter : ";
constexpr const char* kInvalidVoices = "ERROR- Invalid Voice Count : ";
constexpr const char* kInvalidFormat = "ERROR- Invalid Output Format : ";
constexpr const char* kInvalidChannels = "ERROR- Invalid Channel Count : ";
constexpr const char* kInvalidMelody = "ERROR- Invalid Melody Part : ";
constexpr const char* kInvalidArpeggio = "ERROR- Invalid Arpeggio Step : ";

using mid2nolt::cli::File;
using mid2nolt::cli::kFailure;
using mid2nolt::cli::kSuccess;

struct Options {
    const char* source = nullptr;
    std::string output;
    std::uint32_t maxVoices = 0;
    std::uint16_t format = 0;
    std::uint32_t channels = 0;  // 0: no fit
    std::optional<mid2nolt::DrumChoice> drums;
    std::optional<mid2nolt::PartChoice> melody;
    std::uint32_t arpeggio = 0;  // driver ticks a step; 0: no arpeggios
    std::optional<std::uint32_t> frequency;
};

// A count: decimal digits only, 1 to `most`.
bool readCount(const char* text, std::uint32_t most, std::uint32_t& count) {
    std::uint64_t value = 0;
    if (*text == '\0') {
        return false;
    }
    for (const char* c = text; *c != '\0'; ++c) {
        if (*c < '0' || *c > '9') {
            return false;
        }
        value = value * 10 + static_cast<std::uint64_t>(*c - '0');
        if (value > most) {
            return false;
        }
    }
    count = static_cast<std::uint32_t>(value);
    return count != 0;
}

// A part: a track number, then optionally ':' and a MIDI channel, 0 to 15.
bool readPart(const char* text, mid2nolt::PartChoice& part) {
    const char* colon = std::strchr(text, ':');
    const std::string track(text, colon != nullptr ? colon : text + std::strlen(text));
    std::uint32_t number = 0;
    if (track == "0") {
        part.track = 0;
    } else if (readCount(track.c_str(), UINT32_MAX, number)) {
        part.track = number;
    } else {
        return false;
    }
    if (colon == nullptr) {
        return true;
    }
    if (std::strcmp(colon + 1, "0") == 0) {
        part.channel = 0;
        return true;
    }
    if (!readCount(colon + 1, 15, number)) {
        return false;
    }
    part.channel = static_cast<std::uint8_t>(number);
    return true;
}

// Whether the options go together: a fit decides the voices itself; drums
// and the melody are a fit's.
bool optionsAgree(const Options& options) {
    const char* clash = nullptr;
    if (options.channels != 0 && options.maxVoices != 0) {
        clash = "--channels with --voices";
    } else if (options.channels == 0 && options.drums) {
        clash = *options.drums == mid2nolt::DrumChoice::On ? "--drums without --channels"
                                                           : "--no-drums without --channels";
    } else if (options.channels == 0 && options.melody) {
        clash = "--melody without --channels";
    } else if (options.channels == 0 && options.arpeggio != 0) {
        clash = "--arpeggio without --channels";
    } else if (options.frequency && options.arpeggio == 0) {
        clash = "-f without --arpeggio";
    }
    if (clash != nullptr) {
        std::fprintf(stderr, "%s%s\n", kInvalidParameter, clash);
    }
    return clash == nullptr;
}

// The value of option `name` ("--voices") at argv[i]: after '=' in the same
// argument, else the next argument ("" where there is none); null where
// argv[i] is another option.
const char* valueOf(const char* name, int argc, char** argv, int& i) {
    const std::size_t length = std::strlen(name);
    const char* option = argv[i];
    if (std::strncmp(option, name, length) != 0 ||
        (option[length] != '\0' && option[length] != '=')) {
        return nullptr;
    }
    return option[length] == '=' ? option + length + 1 : (i + 1 < argc ? argv[++i] : "");
}

// Writes `message` with `value` ("[None]" where empty); false.
bool invalid(const char* message, const char* value) {
    std::fprintf(stderr, "%s%s\n", message, *value == '\0' ? "[None]" : value);
    return false;
}

// Reads argv[i] where it is an option with a value; `matched` false where it
// is none of them. False after writing the message of a fault.
bool readValueOption(int argc, char** argv, int& i, Options& options, bool& matched) {
    matched = true;
    if (const char* value = valueOf("--voices", argc, argv, i)) {
        return readCount(value, UINT32_MAX, options.maxVoices) || invalid(kInvalidVoices, value);
    }
    if (const char* value = valueOf("--format", argc, argv, i)) {
        options.format = 1;
        return std::strcmp(value, "1") == 0 || invalid(kInvalidFormat, value);
    }
    if (const char* value = valueOf("--channels", argc, argv, i)) {
        return readCount(value, 255, options.channels) || invalid(kInvalidChannels, value);
    }
    if (const char* value = valueOf("--melody", argc, argv, i)) {
        return readPart(value, options.melody.emplace()) || invalid(kInvalidMelody, value);
    }
    if (const char* value = valueOf("--arpeggio", argc, argv, i)) {
        return readCount(value, 255, options.arpeggio) || invalid(kInvalidArpeggio, value);
    }
    matched = false;
    return true;
}

// The source first, then the options in any order; "-o name", "--voices N"
// and the other options with a value may also be written as one argument
// ("-oname", "--voices=N", "--format=1"); "-f" as the converter reads it.
bool readOptions(int argc, char** argv, Options& options) {
    options.source = argv[1];
    for (int i = 2; i < argc; ++i) {
        const char* option = argv[i];
        bool matched = false;
        if (std::strncmp(option, "-o", 2) == 0) {
            const char* value = option[2] != '\0' ? option + 2 : (i + 1 < argc ? argv[++i] : "");
            if (*value == '\0') {
                return invalid("ERROR- Invalid Output File : ", value);
            }
            options.output = value;
        } else if (std::strncmp(option, "-f", 2) == 0) {
            if (!mid2nolt::cli::readFrequencyOption(option + 2, options.frequency.emplace())) {
                return false;
            }
        } else if (!readValueOption(argc, argv, i, options, matched)) {
            return false;
        } else if (matched) {
            continue;
        } else if (std::strcmp(option, "--drums") == 0 || std::strcmp(option, "--no-drums") == 0) {
            const auto drums =
                option[2] == 'd' ? mid2nolt::DrumChoice::On : mid2nolt::DrumChoice::Off;
            if (options.drums && *options.drums != drums) {
                return invalid(kInvalidParameter, "--drums with --no-drums");
            }
            options.drums = drums;
        } else {
            return invalid(kInvalidParameter, option);
        }
    }
    return optionsAgree(options);
}

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

// Fits the song to the channels asked for, into `fitted`; false, with the
// error said, where it cannot.
bool fitToChannels(std::unique_ptr<mid2nolt::Song> song, const Options& options,
                   std::optional<mid2nolt::ChannelFit>& fit, mid2nolt::Song& fitted) {
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
    mid2nolt::buildFittedSong(*fit, fitted);
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
    if (mid2nolt::cli::answerQuery(argc, argv, "mid2nolt-arrange", kUsage, kHelp)) {
        return kSuccess;
    }
    if (argc < 2 || argc > 10) {
        std::fprintf(stderr, "%s%s", kUsage, kHelp);
        return kFailure;
    }
    Options options;
    if (!readOptions(argc, argv, options)) {
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
    const std::uint16_t division = song->division;
    // A fit is written as a song of its own, which the arranger then times
    // as it times any song; the fit lets the source go once read.
    std::optional<mid2nolt::ChannelFit> fit;
    auto fitted = std::make_unique<mid2nolt::Song>();
    const mid2nolt::Song* arranged = song.get();
    if (options.channels != 0) {
        if (!fitToChannels(std::move(song), options, fit, *fitted)) {
            return kFailure;
        }
        arranged = fitted.get();
    } else {
        std::printf("Arranging Track Data...\n");
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
    if (!saveArrangement(arranger, division, output)) {
        return kFailure;
    }
    printTiming(arranger);
    std::printf("%s", mid2nolt::messages::kDone);
    return kSuccess;
}
