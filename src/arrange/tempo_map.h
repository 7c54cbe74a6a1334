// The file's tempo map as the arranger copies it into every voice track.
#pragma once

#include <cstdint>
#include <vector>

#include "midi/smf_writer.h"
#include "midi/tempo.h"
#include "midi/track_events.h"

namespace mid2nolt {

// Tempo and time signature metas: what the arranger copies into every track.
inline bool isTimingMeta(const TrackEvent& event) {
    return event.kind == EventKind::Meta &&
           (event.metaType == kTempoMeta || event.metaType == kTimeSignatureMeta);
}

// One timing meta of the map, its data in TempoMap::data.
struct MapEntry {
    std::uint64_t tick;
    std::uint8_t type;
    std::uint32_t offset;
    std::uint32_t length;
};

// The file's tempo map: tempo and time signature metas, by tick.
struct TempoMap {
    std::vector<MapEntry> entries;
    Bytes data;

    // Written as the walk reads them: a tempo always with its three bytes, a
    // time signature with at least its two.
    void add(std::uint64_t tick, const TrackEvent& event);

    // Its tempo entries in its order, each with its value, from entry `from` on.
    std::vector<TempoChange> tempos(std::size_t from = 0) const;

    // In tick order, earlier tracks first at one tick; a map that changes a
    // setting later but not at the start gets its default there, so that no
    // track starts with the setting another track ended with.
    void finish();

private:
    void addDefault(std::uint8_t type, const std::uint8_t* bytes, std::uint32_t length);
};

}  // namespace mid2nolt
