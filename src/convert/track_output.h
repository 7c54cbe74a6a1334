#pragma once

#include <cstdint>
#include <string_view>

namespace mid2nolt {

struct Song;

// Writes every script of `song`: one per track in packing mode (and for track
// 0 of a format-1 file), otherwise one per channel that strikes a note. Scripts
// are named after `baseName` and written beside it. 0 when every track has been
// handled; -1 after an error message. Every script created is recorded, in
// order, in `runRecord`, which each call starts afresh.
std::int32_t convert(const Song& song, std::string_view baseName, std::uint32_t driverFrequency,
                     bool packingFlag);

// Bit c set when the track holds a note-on of nonzero velocity on channel c
// before its end. One pass finds every channel.
std::uint16_t soundingChannels(const Song& song, std::uint32_t trackIndex);

// Whether channel `channel` strikes a note in the track.
bool channelHasNotes(const Song& song, std::uint32_t trackIndex, std::uint32_t channel);

}  // namespace mid2nolt
