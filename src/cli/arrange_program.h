#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "arrange/arranger.h"
#include "fit/channel_fit.h"

namespace mid2nolt::cli {

// What an arranger run did, for the programs that drive it (the browser
// module), so that none of them reads it from the console: what became of
// each part of the source, as the console lists them; the notes that sound
// across a change of tempo and whether their voices carry tempo maps of their
// own (format 2); the fit to channels, if asked for; and the file written.
struct ArrangeRecord {
    std::vector<PartReport> parts;
    std::uint64_t notesAcrossTempo = 0;
    bool ownTempoMaps = false;
    std::optional<ChannelFit> fit;         // with --channels
    std::uint32_t fitChannels = 0;         // the channels asked for
    std::vector<std::uint32_t> fitTracks;  // each fitted channel's output track
    std::optional<std::string> file;
};

extern ArrangeRecord arrangeRecord;

}  // namespace mid2nolt::cli
