#include "fit/lines.h"

#include <algorithm>
#include <array>
#include <limits>
#include <tuple>

#include "fit/together.h"
#include "midi/midi_facts.h"

namespace mid2nolt::fit {

namespace {

// The drum line's preference: bass drum and snare (and the hits a snare
// stands for), then hi-hats, then the rest; the lower key on a tie.
int drumRank(std::uint8_t key) {
    if (key >= 35 && key <= 40) {
        return 0;
    }
    return key == 42 || key == 44 || key == 46 ? 1 : 2;
}

}  // namespace

std::uint64_t shortestCut(std::uint16_t division) {
    return Division{division}.smpte() || division < 64 ? 1 : division / 64;
}

template <typename Tick>
Order drumLine(const Items<Tick>& items, const Order& byStart, std::uint64_t shortest) {
    Order line;
    for (std::size_t i = 0; i < byStart.size();) {
        const Tick tick = items[byStart[i]].start;
        std::uint32_t best = kNoNote;
        for (; i < byStart.size() && items[byStart[i]].start == tick; ++i) {
            fetchAhead(items, byStart, i);
            const BasicItem<Tick>& item = items[byStart[i]];
            if (item.drum &&
                (best == kNoNote || std::pair(drumRank(item.key), item.key) <
                                        std::pair(drumRank(items[best].key), items[best].key))) {
                best = byStart[i];
            }
        }
        if (best == kNoNote) {
            continue;
        }
        // Hits closer than `shortest` leave one sounding, the one that ranks first.
        if (!line.empty() && items[best].start - items[line.back()].start < shortest) {
            const auto rank = [&](std::uint32_t n) {
                return std::pair(drumRank(items[n].key), items[n].key);
            };
            if (rank(line.back()) <= rank(best)) {
                continue;
            }
            line.pop_back();
        }
        line.push_back(best);
    }
    return line;
}

template <typename Tick>
void placeLine(Items<Tick>& items, Lane& lane, Order line, std::uint32_t laneNumber) {
    for (std::size_t i = 0; i < line.size(); ++i) {
        BasicItem<Tick>& item = items[line[i]];
        item.line = true;
        item.lane = static_cast<std::uint8_t>(laneNumber);
        if (i + 1 < line.size()) {
            item.cutAt(items[line[i + 1]].start);
        }
    }
    lane.line = std::move(line);
}

namespace {

// For a line note that starts while its own lane still sounds: the other
// line's lane where it is free till its next note (`otherNext` of
// `otherLine`), else the harmony lane free there that was taken latest, else
// none.
template <typename Tick>
std::uint32_t laneAside(const Items<Tick>& items, const std::vector<Lane>& lanes,
                        const BasicItem<Tick>& item, std::uint32_t own, const Order& otherLine,
                        std::size_t otherNext) {
    const std::uint32_t other = 1 - own;
    const bool withBass = lanes.size() > 1;
    if (withBass &&
        (lanes[other].line.empty() || items[lanes[other].line.back()].frees() <= item.start) &&
        (otherNext == otherLine.size() || items[otherLine[otherNext]].start >= item.frees())) {
        return other;
    }
    std::uint32_t best = kNoLane;
    std::uint64_t bestEnd = 0;
    for (auto l = static_cast<std::uint32_t>(std::min<std::size_t>(lanes.size(), 2));
         l < lanes.size(); ++l) {
        const std::uint64_t end = lanes[l].line.empty() ? 0 : items[lanes[l].line.back()].frees();
        if (end <= item.start && (best == kNoLane || end > bestEnd)) {
            best = l;
            bestEnd = end;
        }
    }
    return best;
}

}  // namespace

template <typename Tick>
void placeLines(Items<Tick>& items, std::vector<Lane>& lanes, Order melody, Order bass,
                std::uint64_t shortest, bool legato) {
    std::size_t m = 0;
    std::size_t b = 0;
    const bool withBass = lanes.size() > 1;
    // Each line's lane holds most of its line: room for all of it at once,
    // rather than arrays that grow by copying.
    lanes[0].line.reserve(melody.size());
    if (withBass) {
        lanes[1].line.reserve(bass.size());
    }
    while (m < melody.size() || (withBass && b < bass.size())) {
        const bool takeMelody =
            !withBass || b == bass.size() ||
            (m < melody.size() && items[melody[m]].start <= items[bass[b]].start);
        const std::uint32_t n = takeMelody ? melody[m++] : bass[b++];
        const std::uint32_t own = takeMelody ? 0 : 1;
        BasicItem<Tick>& item = items[n];
        item.line = true;
        Lane& lane = lanes[own];
        if (!lane.line.empty() && items[lane.line.back()].frees() > item.start) {
            const std::uint32_t best =
                legato && takeMelody ? kNoLane
                                     : laneAside(items, lanes, item, own,
                                                 takeMelody ? bass : melody, takeMelody ? b : m);
            if (best != kNoLane) {
                item.lane = static_cast<std::uint8_t>(best);
                lanes[best].line.push_back(n);
                continue;
            }
            BasicItem<Tick>& before = items[lane.line.back()];
            if (item.start - before.start < shortest) {
                // Two notes too close for both to be heard (a rolled chord):
                // the line keeps the higher for the melody, the lower for the
                // bass, and leaves the other out rather than cut it to a click.
                const bool keepBefore =
                    takeMelody ? !legato && before.key > item.key : before.key < item.key;
                BasicItem<Tick>& left = keepBefore ? item : before;
                left.lane = kNoItemLane;
                left.line = false;
                if (keepBefore) {
                    continue;
                }
                lane.line.pop_back();
            } else {
                before.cutAt(item.start);
            }
        }
        item.lane = static_cast<std::uint8_t>(own);
        lane.line.push_back(n);
    }
}

template <typename Tick>
void markDoubled(Items<Tick>& items, const Order& byStart, const std::vector<Lane>& lanes) {
    const std::size_t count = std::min<std::size_t>(lanes.size(), 2);
    // Each note is marked apart from the others: the two halves of the notes
    // on a thread each, every line searched for where the half begins.
    const auto mark = [&](std::size_t from, std::size_t to) {
        std::array<std::size_t, 2> at{};  // per lane: its notes that start at or before the tick
        for (std::size_t l = 0; from < to && l < count; ++l) {
            const Order& line = lanes[l].line;
            const std::uint64_t first = items[byStart[from]].start;
            at[l] = static_cast<std::size_t>(
                std::partition_point(line.begin(), line.end(),
                                     [&](std::uint32_t n) { return items[n].start <= first; }) -
                line.begin());
        }
        for (std::size_t i = from; i < to; ++i) {
            fetchAhead(items, byStart, i);
            BasicItem<Tick>& item = items[byStart[i]];
            if (item.drum || item.line) {
                continue;
            }
            for (std::size_t l = 0; l < count && !item.doubled; ++l) {
                const Order& line = lanes[l].line;
                while (at[l] < line.size() && items[line[at[l]]].start <= item.start) {
                    ++at[l];
                }
                const BasicItem<Tick>* sounding = at[l] > 0 ? &items[line[at[l] - 1]] : nullptr;
                item.doubled = sounding != nullptr && sounding->frees() > item.start &&
                               sounding->key % 12 == item.key % 12;
            }
        }
    };
    const std::size_t half = byStart.size() / 2;
    runTogether(
        byStart.size() >= kNotesWorthSharing, [&] { mark(0, half); },
        [&] { mark(half, byStart.size()); });
}

template <typename Tick>
void keepPartsTogether(Items<Tick>& items, const Order& byStart, const std::vector<Lane>& lanes) {
    constexpr std::uint32_t kNoPart = std::numeric_limits<std::uint32_t>::max();
    struct Dealt {
        std::uint8_t lane;
        std::uint64_t freeFrom = 0;
        std::uint32_t part = kNoPart;  // of the note it took last
    };
    std::vector<Dealt> dealt;
    std::vector<bool> dealtAgain(lanes.size(), false);
    for (std::size_t l = 0; l < lanes.size(); ++l) {
        if (lanes[l].role == Role::Harmony && lanes[l].line.empty()) {
            dealt.push_back({static_cast<std::uint8_t>(l)});
            dealtAgain[l] = true;
        }
    }
    if (dealt.size() < 2) {
        return;
    }
    for (std::size_t i = 0; i < byStart.size(); ++i) {
        fetchAhead(items, byStart, i);
        BasicItem<Tick>& item = items[byStart[i]];
        if (item.lane == kNoItemLane || !dealtAgain[item.lane]) {
            continue;
        }
        Dealt* best = nullptr;
        for (Dealt& lane : dealt) {
            if (lane.freeFrom > item.start) {
                continue;
            }
            if (lane.part == item.part) {
                best = &lane;
                break;
            }
            if (best == nullptr || lane.freeFrom < best->freeFrom ||
                (lane.freeFrom == best->freeFrom && lane.lane == item.lane)) {
                best = &lane;
            }
        }
        // A lane is free: the notes sounding here are fewer than the lanes.
        item.lane = best->lane;
        best->freeFrom = item.frees();
        best->part = item.part;
    }
}

template <typename Tick>
void dealWhole(Items<Tick>& items, const Order& byStart, const Order& melody, const Order& bass,
               std::uint32_t lanes) {
    const std::uint32_t reserved = std::min<std::uint32_t>(lanes, 2);
    for (BasicItem<Tick>& item : items) {
        item.lane = kNoItemLane;
    }
    for (const std::uint32_t n : melody) {
        items[n].lane = 0;
    }
    for (const std::uint32_t n : reserved > 1 ? bass : Order()) {
        items[n].lane = items[n].lane == kNoItemLane ? 1 : items[n].lane;
    }
    struct Slot {
        std::uint64_t freeFrom = 0;
        std::uint32_t part = std::numeric_limits<std::uint32_t>::max();
    };
    std::vector<Slot> slots(lanes);
    for (std::size_t i = 0; i < byStart.size(); ++i) {
        fetchAhead(items, byStart, i);
        BasicItem<Tick>& item = items[byStart[i]];
        if (item.drum) {
            continue;
        }
        std::uint32_t best = item.lane;
        if (best == kNoItemLane || slots[best].freeFrom > item.start) {
            best = kNoLane;
            // The lanes no line wants, then theirs.
            const auto rank = [&](std::uint32_t l) {
                return std::tuple(l < reserved, slots[l].part != item.part, slots[l].freeFrom);
            };
            for (std::uint32_t l = 0; l < lanes; ++l) {
                if (slots[l].freeFrom <= item.start && (best == kNoLane || rank(l) < rank(best))) {
                    best = l;
                }
            }
        }
        item.lane = static_cast<std::uint8_t>(best);
        if (best != kNoLane) {
            slots[best] = {item.frees(), item.part};
        }
    }
}

template <typename Tick>
std::uint32_t laneWithMost(const Items<Tick>& items, const Order& line,
                           const std::vector<bool>& labelled) {
    std::vector<std::uint64_t> count(labelled.size(), 0);
    for (const std::uint32_t n : line) {
        if (items[n].lane != kNoItemLane) {
            ++count[items[n].lane];
        }
    }
    std::uint32_t best = kNoLane;
    for (std::uint32_t l = 0; l < labelled.size(); ++l) {
        if (!labelled[l] && (best == kNoLane || count[l] > count[best])) {
            best = l;
        }
    }
    return best;
}

template Order drumLine(const Items<std::uint32_t>&, const Order&, std::uint64_t);
template void placeLine(Items<std::uint32_t>&, Lane&, Order, std::uint32_t);
template void placeLines(Items<std::uint32_t>&, std::vector<Lane>&, Order, Order, std::uint64_t,
                         bool);
template void markDoubled(Items<std::uint32_t>&, const Order&, const std::vector<Lane>&);
template std::uint32_t laneWithMost(const Items<std::uint32_t>&, const Order&,
                                    const std::vector<bool>&);
template void keepPartsTogether(Items<std::uint32_t>&, const Order&, const std::vector<Lane>&);
template void dealWhole(Items<std::uint32_t>&, const Order&, const Order&, const Order&,
                        std::uint32_t);
template Order drumLine(const Items<std::uint64_t>&, const Order&, std::uint64_t);
template void placeLine(Items<std::uint64_t>&, Lane&, Order, std::uint32_t);
template void placeLines(Items<std::uint64_t>&, std::vector<Lane>&, Order, Order, std::uint64_t,
                         bool);
template void markDoubled(Items<std::uint64_t>&, const Order&, const std::vector<Lane>&);
template std::uint32_t laneWithMost(const Items<std::uint64_t>&, const Order&,
                                    const std::vector<bool>&);
template void keepPartsTogether(Items<std::uint64_t>&, const Order&, const std::vector<Lane>&);
template void dealWhole(Items<std::uint64_t>&, const Order&, const Order&, const Order&,
                        std::uint32_t);

}  // namespace mid2nolt::fit
