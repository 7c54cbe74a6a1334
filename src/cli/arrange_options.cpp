#include "cli/arrange_options.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "cli/frequency_option.h"

namespace mid2nolt::cli {

const char* const kArrangeUsage =
    "Usage:\nmid2nolt-arrange infile.mid -o[outfile.mid] --voices[N] --format[1]\n"
    "mid2nolt-arrange infile.mid --channels[N] --drums|--no-drums --melody[T[:C]]\n"
    "\t--arpeggio[K] -f[Custom Frequency] -o[outfile.mid] --format[1]\n";
const char* const kArrangeHelp =
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
namespace {

constexpr const char* kInvalidParameter = "ERROR- Invalid Arrange Parameter : ";
constexpr const char* kInvalidVoices = "ERROR- Invalid Voice Count : ";
constexpr const char* kInvalidFormat = "ERROR- Invalid Output Format : ";
constexpr const char* kInvalidChannels = "ERROR- Invalid Channel Count : ";
constexpr const char* kInvalidMelody = "ERROR- Invalid Melody Part : ";
constexpr const char* kInvalidArpeggio = "ERROR- Invalid Arpeggio Step : ";

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
bool optionsAgree(const ArrangeCommandLine& options) {
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
bool readValueOption(int argc, char** argv, int& i, ArrangeCommandLine& options, bool& matched) {
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

}  // namespace

// The source first, then the options in any order; "-o name", "--voices N"
// and the other options with a value may also be written as one argument
// ("-oname", "--voices=N", "--format=1"); "-f" as the converter reads it.
bool readArrangeOptions(int argc, char** argv, ArrangeCommandLine& options) {
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
            if (!readFrequencyOption(option + 2, options.frequency.emplace())) {
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

}  // namespace mid2nolt::cli
