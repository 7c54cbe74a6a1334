// Chords the chip way: a harmony channel that stands for notes sounding
// together plays them in turn, a step of a few driver ticks each.
#pragma once

#include <cstdint>
#include <utility>
#include <vector>

#include "fit/channel_fit.h"
#include "fit/items.h"
#include "fit/lines.h"

namespace mid2nolt::fit {

// The most slices the harmony lanes write in all: six hours of three harmony
// channels at 60 Hz and a tick a step, 48 MiB of them. Past it the steps are
// too fine for the song's length (a tempo map that makes it years long, say),
// and the fit stops rather than take gigabytes.
constexpr std::uint64_t kMostSlices = std::uint64_t{1} << 22;
// The most turns the arpeggios take in all, four for each slice: a turn
// among notes of one key writes no slice, and a song whose notes of one key
// sound together for years would otherwise turn through them for hours.
constexpr std::uint64_t kMostTurns = 4 * kMostSlices;

// Line notes' numbers with their ends before the lines cut them.
template <typename Tick>
using LineEnds = std::vector<std::pair<std::uint32_t, Tick>>;

// What the harmony channels play instead of whole notes: per lane (kNoLane
// for the lanes that are no harmony's), its slices by start, none overlapping,
// and how many of the source's notes it played as an arpeggio in how many
// steps.
template <typename Tick>
struct Arpeggios {
    std::vector<FitNotes<Tick>> slices;
    std::vector<std::vector<std::uint64_t>> fromPart;  // slices per part, per lane
    std::vector<std::uint64_t> arpeggiated;
    std::vector<std::uint64_t> steps;
    std::vector<std::uint64_t> whole;  // notes played whole, in one slice
    bool tooMany = false;              // kMostSlices written or kMostTurns taken, and more left out
};

// Deals every pitched note that no line plays, and what the lines cut short
// of theirs (`lineEnds`, for those `cut`), over the harmony lanes: a note a
// lane holds stays there, the others go to the lane that sounds fewest of its
// share where they start. Then each lane plays its share: where one note
// sounds, that note; where two or more sound together, each in turn from the
// lowest, `options.arpeggio` driver ticks at `options.frequency` a step,
// starting again from the lowest wherever one starts or ends. Every slice is
// of one source note: its key, within its start and end.
template <typename Tick>
Arpeggios<Tick> arpeggiate(const Items<Tick>& items, const Order& byStart,
                           const std::vector<Lane>& lanes, LineEnds<Tick> lineEnds,
                           const FitOptions& options, const SongRest& rest, std::size_t parts);

}  // namespace mid2nolt::fit
