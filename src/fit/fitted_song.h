// A fit written as a song of its own, for the arranger to time as any other.
#pragma once

#include "fit/channel_fit.h"
#include "midi/song.h"

namespace mid2nolt {

// Format 1: track 0 holds every event of the source that belongs to no
// channel (the tempo map, texts, system exclusive), earlier tracks first at a
// tick, the names of tracks after the first left out; then a track per
// channel of the fit, named for its role, with its notes on its MIDI channel
// and the program, controls and pitch bend of its main part (from the part's
// track and from tracks without notes). Every track ends where the source's
// last track ends.
// The channels' notes are let go once written (their counts stay).
void buildFittedSong(ChannelFit& fit, Song& fitted);

}  // namespace mid2nolt
