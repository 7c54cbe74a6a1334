// The arranger's command line: its usage, its help and its options as read.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "fit/channel_fit.h"

namespace mid2nolt::cli {

extern const char* const kArrangeUsage;
extern const char* const kArrangeHelp;

// The options as the command line gives them: the source first, then any
// of -o, --voices, --format 1, --channels, --drums or --no-drums, --melody,
// --arpeggio and -f.
struct ArrangeCommandLine {
    const char* source = nullptr;
    std::string output;
    std::uint32_t maxVoices = 0;
    std::uint16_t format = 0;
    std::uint32_t channels = 0;  // 0: no fit
    std::optional<DrumChoice> drums;
    std::optional<PartChoice> melody;
    std::uint32_t arpeggio = 0;              // driver ticks a step; 0: no arpeggios
    std::optional<std::uint32_t> frequency;  // -f, for the arpeggios
};

// Reads the arguments after the program's name into `options`; false after
// writing the message of the first fault.
bool readArrangeOptions(int argc, char** argv, ArrangeCommandLine& options);

}  // namespace mid2nolt::cli
