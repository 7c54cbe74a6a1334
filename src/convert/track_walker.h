#pragma once

#include <cstdint>

namespace mid2nolt {

struct Song;
struct TrackEvent;
class ScriptStream;

// Writes the body and trailer of one script from the events of track
// `trackIndex`, and closes `out` on every exit. The channels taken are those
// that conversionState.allChannels / channel select. 0 on success; -1 after an
// error message on stderr.
std::int32_t walkTrack(const Song& song, ScriptStream& out, std::uint32_t trackIndex);

// Applies one meta event (never end of track): tempo and time signature change
// the conversion state, text-type events become comments. The text is written
// straight from the track's bytes, so nothing here can fail.
void handleMetaEvent(const TrackEvent& event, ScriptStream& out);

}  // namespace mid2nolt
