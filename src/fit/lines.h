// The lines the fit strikes (melody, bass, drums) and the lanes that hold
// them, and the order the other notes fill what they leave free.
#pragma once

#include <cstdint>
#include <limits>
#include <optional>
#include <utility>
#include <vector>

#include "fit/channel_fit.h"
#include "fit/items.h"
#include "midi/notes.h"

namespace mid2nolt::fit {

constexpr std::uint32_t kNoLane = std::numeric_limits<std::uint32_t>::max();

// One channel as it fills: its line's notes (melody, bass or drums), each
// ended where the next starts, and the other notes it takes in the gaps,
// placed in the order they end.
struct Lane {
    Role role = Role::Harmony;
    Order line;
    std::size_t next = 0;  // the first of `line` that starts where the latest note asked frees
    std::uint64_t lastEnd = 0;
};

// The melody and the bass, from `byStart`: at each tick where a pitched note
// starts, the melody takes the highest that starts there of those
// `inTune(note, tick)` picks (asked in the order of the ticks), and the bass
// (where `withBass`) the lowest of the others; the first of the song's order
// on a tie.
template <typename Tick, typename InTune>
void linesOf(const Items<Tick>& items, const Order& byStart, InTune inTune, bool withBass,
             Order& melody, Order& bass) {
    for (std::size_t i = 0; i < byStart.size();) {
        const std::size_t first = i;
        const Tick tick = items[byStart[i]].start;
        std::uint32_t top = kNoNote;
        for (; i < byStart.size() && items[byStart[i]].start == tick; ++i) {
            fetchAhead(items, byStart, i);
            const std::uint32_t n = byStart[i];
            if (!items[n].drum && inTune(items[n], tick) &&
                (top == kNoNote || items[n].key > items[top].key)) {
                top = n;
            }
        }
        if (top != kNoNote) {
            melody.push_back(top);
        }
        std::uint32_t low = kNoNote;
        for (std::size_t j = first; withBass && j < i; ++j) {
            const std::uint32_t n = byStart[j];
            if (!items[n].drum && n != top && (low == kNoNote || items[n].key < items[low].key)) {
                low = n;
            }
        }
        if (low != kNoNote) {
            bass.push_back(low);
        }
    }
}

// A sixty-fourth of a quarter note, in the song's ticks (a tick where they
// are SMPTE frames): a line's note cut shorter than that is a click the
// driver hardly sounds, and is left out instead.
std::uint64_t shortestCut(std::uint16_t division);

// The drum line: at each tick where a drum note starts, the hit that ranks
// first (drumRank); of hits closer than `shortest`, the one that ranks first.
template <typename Tick>
Order drumLine(const Items<Tick>& items, const Order& byStart, std::uint64_t shortest);

// Puts a line in its lane: each note struck, and ended where the next starts.
template <typename Tick>
void placeLine(Items<Tick>& items, Lane& lane, Order line, std::uint32_t laneNumber);

// Puts the melody in lane 0 and the bass in lane 1, every note struck, in the
// order they start. A note that starts while its lane still sounds the line's
// note before goes whole to the other line's lane where that is free till its
// next note, else to the harmony lane free there that was taken latest; where
// neither is, it takes its own lane and ends the note before. A `legato`
// melody (a lead's own line) always takes its own lane: each note takes over
// from the one before, as a singer's do. Of two notes less than `shortest`
// apart, the melody keeps the higher (a legato one the later) and the bass
// the lower, and the other is left out.
template <typename Tick>
void placeLines(Items<Tick>& items, std::vector<Lane>& lanes, Order melody, Order bass,
                std::uint64_t shortest, bool legato);

// A gap between a lane's notes: the tick it opened (where the lane was last
// taken) and the tick it closes (where its next line note starts, or
// kLastTick).
struct LineGap {
    std::uint64_t opened = 0;
    std::uint64_t closes = 0;
};

// The gap of `lane` that `item` would fall in, when it is free for all of
// it. Asked of notes in the order they free a channel, it finds the line note
// before with a cursor: of the lane's line notes, only the last that starts
// before `item` frees it can overlap it.
template <typename Tick>
inline std::optional<LineGap> gapBefore(Lane& lane, const Items<Tick>& items,
                                        const BasicItem<Tick>& item) {
    if (lane.lastEnd > item.start) {
        return std::nullopt;
    }
    const std::uint64_t frees = item.frees();
    const Order& line = lane.line;
    while (lane.next < line.size() && items[line[lane.next]].start < frees) {
        ++lane.next;
    }
    LineGap gap{lane.lastEnd, lane.next < line.size() ? items[line[lane.next]].start : kLastTick};
    if (lane.next > 0) {
        const std::uint64_t before = items[line[lane.next - 1]].frees();
        if (before > item.start) {
            return std::nullopt;
        }
        gap.opened = std::max(gap.opened, before);
    }
    return gap;
}

// Marks the pitched notes that are no line's whose pitch class the melody or
// the bass lane sounds where they start.
template <typename Tick>
void markDoubled(Items<Tick>& items, const Order& byStart, const std::vector<Lane>& lanes);

// Visits the pitched notes that are no line's in the order they free a
// channel; of those that free it at one tick, first the chord tones not
// already sounding (not `doubled`).
template <typename Tick, typename Visit>
void forHarmony(const Items<Tick>& items, const Order& byEnd, Visit visit) {
    const auto candidate = [&](std::uint32_t n) { return !items[n].drum && !items[n].line; };
    for (std::size_t i = 0; i < byEnd.size();) {
        fetchAhead(items, byEnd, i);
        if (!candidate(byEnd[i])) {
            ++i;
            continue;
        }
        const std::uint64_t frees = items[byEnd[i]].frees();
        std::size_t j = i + 1;
        while (j < byEnd.size() && (!candidate(byEnd[j]) || items[byEnd[j]].frees() == frees)) {
            fetchAhead(items, byEnd, j);
            ++j;
        }
        for (const bool doubled : {false, true}) {
            for (std::size_t k = i; k < j; ++k) {
                if (candidate(byEnd[k]) && items[byEnd[k]].doubled == doubled) {
                    visit(byEnd[k]);
                }
            }
        }
        i = j;
    }
}

// Deals again the notes of the harmony lanes that hold no line note among
// those lanes, in the order they start, so that each part's phrases stay on
// one channel rather than alternate between them: a note goes to the lane its
// part played last where that is free, else to the lane free the longest (its
// own on a tie). The notes kept are the same: where no more than that many
// lanes' notes sound at once, a lane is always free.
template <typename Tick>
void keepPartsTogether(Items<Tick>& items, const Order& byStart, const std::vector<Lane>& lanes);

// Where every pitched note fits whole in `lanes` lanes: deals them again in
// the order they start, the melody's notes to lane 0 and the bass's to lane
// 1 where free, the others to a lane neither line wants where one is free,
// the one their part played last, else the one free the longest. Dealt by
// start, every note finds a free lane: no more notes sound at once than
// there are lanes.
template <typename Tick>
void dealWhole(Items<Tick>& items, const Order& byStart, const Order& melody, const Order& bass,
               std::uint32_t lanes);

// Of the lanes not yet `labelled`, the one that holds most notes of `line`.
template <typename Tick>
std::uint32_t laneWithMost(const Items<Tick>& items, const Order& line,
                           const std::vector<bool>& labelled);

}  // namespace mid2nolt::fit
