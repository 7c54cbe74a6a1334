// The arranger's first pass over a track: which voice each note takes.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "arrange/dealer.h"
#include "arrange/tempo_map.h"
#include "arrange/tick_group.h"
#include "midi/notes.h"
#include "midi/track_source.h"

namespace mid2nolt {

struct ChannelPlan {
    std::uint64_t notes = 0;
    std::uint64_t leftOut = 0;
    std::uint64_t cutShort = 0;
    std::vector<std::uint64_t> lastEnd;  // per voice: the end of its last note
    std::vector<bool> acrossTempo;       // per voice: a note sounds across a change of tempo
    std::vector<std::uint64_t> notesOf;  // per voice: the notes it plays
};

// What the first pass decides for one track.
struct TrackPlan {
    LargeVector<std::uint32_t> voiceOf;  // per note, in the order the notes start
    std::vector<Cut> cuts;               // in tick order
    std::array<ChannelPlan, 16> channels;
    const std::uint8_t* name = nullptr;  // the first track name
    std::uint32_t nameLength = 0;
    bool named = false;
    std::uint64_t endTick = 0;
    std::uint64_t notesAcrossTempo = 0;  // notes that sound across a change of tempo
    std::uint64_t tempoEntries = 0;      // tempo metas the track holds
};

// What the first pass reuses from track to track.
struct PlanBuffers {
    Sounding sounding;
    std::array<Dealer, 16> dealers;
    TickGroup group;
};

// Pairs the notes of track `t` of `song`, deals them into voices (at most `limit` a
// channel, 0 for no limit), adds its timing metas to `map` (when given), and
// marks the notes that sound across a change of tempo: of `known`, the tempo
// entries of the map before the track (in its order), and of the track's own
// when it adds them to `map`. False when its ticks run past 64 bits.
bool planTrack(const SongSource& song, std::size_t t, std::uint32_t limit, TrackPlan& plan,
               TempoMap* map, const std::vector<TempoChange>& known, PlanBuffers& buffers);

}  // namespace mid2nolt
