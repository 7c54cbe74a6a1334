// The converter's command line: options, console and exit status.

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "cli/frequency_option.h"
#include "cli/process.h"
#include "convert/run_record.h"
#include "convert/track_output.h"
#include "midi/messages.h"
#include "midi/song.h"

namespace {

constexpr const char* kUsage = "Usage:\nmid2nolt infile.mid -p -f[Custom Frequency]\n";
constexpr const char* kHelp =
    "-p enables packing mode,\n"
    "\tThis combines all channels of a each MIDI track\n"
    "\tinto a single NOLT Script output, instead of one\n"
    "\tscript per channel.\n"
    "-f[Custom Frequency] adjusts the target driver frequency,\n"
    "\tAll timing in NOLT Scripts is done in driver ticks\n"
    "\tthe rate of which may vary wildly depending upon your\n"
    "\tproject requirements. The default is 60.\n";
constexpr const char* kInvalidParameter = "ERROR- Invalid Conversion Parameter : ";

using mid2nolt::cli::File;
using mid2nolt::cli::kFailure;
using mid2nolt::cli::kSuccess;

bool hasMidExtension(const char* name) {
    const std::size_t length = std::strlen(name);
    if (length < 4) {
        return false;
    }
    const char* extension = name + length - 4;
    const char* expected = ".mid";
    for (int i = 0; i < 4; ++i) {
        char c = extension[i];
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
        if (c != expected[i]) {
            return false;
        }
    }
    return true;
}

struct Options {
    std::uint32_t driverFrequency = 60;
    bool packingFlag = false;
};

// Checks every option for its leading '-' first, then interprets them in
// order; the later -f wins. False after writing the message of the first fault.
bool readOptions(int argc, char** argv, Options& options) {
    for (int i = 2; i < argc; ++i) {
        if (argv[i][0] != '-') {
            std::fprintf(stderr, "%s%s\n", kInvalidParameter, argv[i]);
            return false;
        }
    }
    for (int i = 2; i < argc; ++i) {
        const char* option = argv[i];
        if (option[1] == 'f') {
            if (!mid2nolt::cli::readFrequencyOption(option + 2, options.driverFrequency)) {
                return false;
            }
        } else if (std::strcmp(option, "-p") == 0) {
            options.packingFlag = true;
        } else {
            std::fprintf(stderr, "%s%s\n", kInvalidParameter, option);
            return false;
        }
    }
    return true;
}

}  // namespace

int mid2nolt::cli::convertProgram(int argc, char** argv) {
    if (mid2nolt::cli::answerQuery(argc, argv, "mid2nolt", kUsage, kHelp)) {
        return kSuccess;
    }
    if (argc < 2 || argc > 4) {
        std::fprintf(stderr, "%s%s", kUsage, kHelp);
        return kFailure;
    }
    const char* sourceName = argv[1];
    // The source is opened before the options and the extension are looked at.
    const File source(std::fopen(sourceName, "rb"));
    if (!source) {
        std::fprintf(stderr, "%s%s\n", mid2nolt::messages::kCantOpenSource, sourceName);
        return kFailure;
    }
    Options options;
    if (!readOptions(argc, argv, options)) {
        return kFailure;
    }
    mid2nolt::recordDriverFrequency(options.driverFrequency);
    if (!hasMidExtension(sourceName)) {
        std::fprintf(stderr, "%s", "ERROR- Source File must have a .mid extension.");
        return kFailure;
    }
    const std::string baseName(sourceName, std::strlen(sourceName) - 4);

    std::printf("%s%s\n", mid2nolt::messages::kReadingSource, sourceName);
    auto song = std::make_unique<mid2nolt::Song>();
    int status = kFailure;
    if (mid2nolt::loadSong(source.get(), *song) == 0) {
        std::printf("NOLTing Track Data...\n");
        if (mid2nolt::convert(*song, baseName, options.driverFrequency, options.packingFlag) == 0) {
            std::printf("%s", mid2nolt::messages::kDone);
            status = kSuccess;
        }
    }
    mid2nolt::freeSong(song);
    return status;
}
