// The lines the fit strikes (melody, bass, drums) and the lanes that hold
// them, and the order the other notes fill what they leave free.
#pragma once

#include <cstdint>
#include <limits>
#include <optional>
#include <utility>
#include <vector>

#include "arrange/channel_fit.h"
#include "arrange/fit_notes.h"
#include "midi/notes.h"

namespace mid2nolt::fit {

constexpr std::uint32_t kNoLane = std::numeric_limits<std::uint32_t>::max();

// One channel as it fills: its line's notes (melody, bass or drums), each
// ended where the next starts, and the other notes it takes in the gaps,
// placed in the order they end.
struct Lane {
    Role role = Role::Harmony;
    std::vector<std::uint32_t> line;
    // Once the lines are placed: where each line note starts and frees the
    // lane, in one array, to search it fast.
    std::vector<std::pair<std::uint64_t, std::uint64_t>> taken;
    std::uint64_t lastEnd = 0;
};

// The line of the notes `takes` picks, from `byStart`: at each tick where
// any of them starts, the highest (`top`) or else the lowest that starts
// there, the first of the song's order on a tie.
template <typename Takes>
std::vector<std::uint32_t> lineOf(const std::vector<Item>& items,
                                  const std::vector<std::uint32_t>& byStart, bool top,
                                  Takes takes) {
    std::vector<std::uint32_t> line;
    for (std::size_t i = 0; i < byStart.size();) {
        const std::uint64_t tick = items[byStart[i]].start;
        std::uint32_t best = kNoNote;
        for (; i < byStart.size() && items[byStart[i]].start == tick; ++i) {
            const std::uint32_t n = byStart[i];
            if (takes(items[n]) && (best == kNoNote || (top ? items[n].key > items[best].key
                                                            : items[n].key < items[best].key))) {
                best = n;
            }
        }
        if (best != kNoNote) {
            line.push_back(best);
        }
    }
    return line;
}

// A sixty-fourth of a quarter note, in the song's ticks (a tick where they
// are SMPTE frames): a line's note cut shorter than that is a click the
// driver hardly sounds, and is left out instead.
std::uint64_t shortestCut(std::uint16_t division);

// The drum line: at each tick where a drum note starts, the hit that ranks
// first (drumRank); of hits closer than `shortest`, the one that ranks first.
std::vector<std::uint32_t> drumLine(const std::vector<Item>& items,
                                    const std::vector<std::uint32_t>& byStart,
                                    std::uint64_t shortest);

// Puts a line in its lane: each note struck, and ended where the next starts.
void placeLine(std::vector<Item>& items, Lane& lane, std::vector<std::uint32_t> line,
               std::uint32_t laneNumber);

// Puts the melody in lane 0 and the bass in lane 1, every note struck, in the
// order they start. A note that starts while its lane still sounds the line's
// note before goes whole to the harmony lane free there that was taken
// latest, else to the other line's lane where that is free till its next
// note; where neither is, it takes its own lane and ends the note before. Of
// two notes less than `shortest` apart, the melody keeps the higher and the
// bass the lower, and the other is left out.
void placeLines(std::vector<Item>& items, std::vector<Lane>& lanes,
                const std::vector<std::uint32_t>& melody, const std::vector<std::uint32_t>& bass,
                std::uint64_t shortest);

// Where lane `lane` is last taken before `item` would start, when it is free
// for all of it.
std::optional<std::uint64_t> gapBefore(const Lane& lane, const Item& item);

// The pitched notes that are no line's, in the order they free a channel;
// of those that free it at one tick, first the chord tones that the melody
// and the bass do not already sound (by pitch class) where they start.
std::vector<std::uint32_t> harmonyOrder(const std::vector<Item>& items,
                                        const std::vector<std::uint32_t>& byEnd,
                                        const std::vector<Lane>& lanes);

// Of the lanes not yet `labelled`, the one that holds most notes of `line`.
std::uint32_t laneWithMost(const std::vector<Item>& items, const std::vector<std::uint32_t>& line,
                           const std::vector<bool>& labelled);

}  // namespace mid2nolt::fit
