#include "arrange/channel_fit.h"

#include <algorithm>
#include <cctype>
#include <limits>
#include <memory>
#include <optional>
#include <string_view>
#include <utility>

#include "midi/midi_facts.h"
#include "midi/notes.h"
#include "midi/timed_reader.h"

namespace mid2nolt {

namespace {

constexpr std::uint8_t kDrumChannel = 9;
constexpr std::uint32_t kNoLane = std::numeric_limits<std::uint32_t>::max();

// The tick a note held from `start` to `end` frees its channel: a note of no
// length takes one tick, so that no two notes of a channel start together.
std::uint64_t freedAt(std::uint64_t start, std::uint64_t end) {
    return end > start || start == kLastTick ? end : start + 1;
}

// A lane's number in an item: channels are at most 255, numbered from 0.
constexpr std::uint8_t kNoItemLane = 0xFF;

// A note as the fit takes it: 24 bytes, as millions are held at once.
struct Item {
    std::uint64_t start;
    std::uint64_t end;  // where its channel ends it: as in the source, or earlier when cut
    std::uint32_t part;
    std::uint8_t key;
    std::uint8_t velocity;
    std::uint8_t lane = kNoItemLane;
    bool drum : 1;
    bool line : 1 = false;  // a note of the melody, bass or drum line
    bool cut : 1 = false;   // ended earlier than in the source

    std::uint64_t frees() const { return freedAt(start, end); }
    void cutAt(std::uint64_t tick) {
        if (tick < end) {
            end = tick;
            cut = true;
        }
    }
};
static_assert(sizeof(Item) == 24);

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

// Whether a track or instrument name says the track carries the tune.
bool namesLead(const std::uint8_t* text, std::uint32_t length) {
    std::string lower(text, text + length);
    for (char& c : lower) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    for (const std::string_view word : {"lead", "melody", "vocal", "solo"}) {
        if (lower.find(word) != std::string::npos) {
            return true;
        }
    }
    return false;
}

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
std::uint64_t shortestCut(std::uint16_t division) {
    return (division & 0x8000) != 0 || division < 64 ? 1 : division / 64;
}

// The drum line's preference: bass drum and snare (and the hits a snare
// stands for), then hi-hats, then the rest; the lower key on a tie.
int drumRank(std::uint8_t key) {
    if (key >= 35 && key <= 40) {
        return 0;
    }
    return key == 42 || key == 44 || key == 46 ? 1 : 2;
}

std::vector<std::uint32_t> drumLine(const std::vector<Item>& items,
                                    const std::vector<std::uint32_t>& byStart,
                                    std::uint64_t shortest) {
    std::vector<std::uint32_t> line;
    for (std::size_t i = 0; i < byStart.size();) {
        const std::uint64_t tick = items[byStart[i]].start;
        std::uint32_t best = kNoNote;
        for (; i < byStart.size() && items[byStart[i]].start == tick; ++i) {
            const Item& item = items[byStart[i]];
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

// Puts a line in its lane: each note struck, and ended where the next starts.
void placeLine(std::vector<Item>& items, Lane& lane, std::vector<std::uint32_t> line,
               std::uint32_t laneNumber) {
    for (std::size_t i = 0; i < line.size(); ++i) {
        Item& item = items[line[i]];
        item.line = true;
        item.lane = static_cast<std::uint8_t>(laneNumber);
        if (i + 1 < line.size()) {
            item.cutAt(items[line[i + 1]].start);
        }
    }
    lane.line = std::move(line);
}

// Puts the melody in lane 0 and the bass in lane 1, every note struck, in the
// order they start. A note that starts while its lane still sounds the line's
// note before goes whole to the harmony lane free there that was taken
// latest; where none is, it takes its own lane and ends the note before, or
// leaves it out where that would leave less than `shortest`.
void placeLines(std::vector<Item>& items, std::vector<Lane>& lanes,
                const std::vector<std::uint32_t>& melody, const std::vector<std::uint32_t>& bass,
                std::uint64_t shortest) {
    const std::uint32_t harmony =
        std::min<std::uint32_t>(static_cast<std::uint32_t>(lanes.size()), 2);
    std::size_t m = 0;
    std::size_t b = 0;
    const bool withBass = lanes.size() > 1;
    while (m < melody.size() || (withBass && b < bass.size())) {
        const bool takeMelody =
            !withBass || b == bass.size() ||
            (m < melody.size() && items[melody[m]].start <= items[bass[b]].start);
        const std::uint32_t n = takeMelody ? melody[m++] : bass[b++];
        const std::uint32_t own = takeMelody ? 0 : 1;
        Item& item = items[n];
        item.line = true;
        Lane& lane = lanes[own];
        if (!lane.line.empty() && items[lane.line.back()].frees() > item.start) {
            std::uint32_t best = kNoLane;
            std::uint64_t bestEnd = 0;
            for (std::uint32_t l = harmony; l < lanes.size(); ++l) {
                const std::uint64_t end =
                    lanes[l].line.empty() ? 0 : items[lanes[l].line.back()].frees();
                if (end <= item.start && (best == kNoLane || end > bestEnd)) {
                    best = l;
                    bestEnd = end;
                }
            }
            // Else the other line's lane, where it is free till its next note.
            const std::uint32_t other = 1 - own;
            const std::vector<std::uint32_t>& otherLine = takeMelody ? bass : melody;
            const std::size_t otherNext = takeMelody ? b : m;
            if (best == kNoLane && withBass &&
                (lanes[other].line.empty() ||
                 items[lanes[other].line.back()].frees() <= item.start) &&
                (otherNext == otherLine.size() ||
                 items[otherLine[otherNext]].start >= item.frees())) {
                best = other;
            }
            if (best != kNoLane) {
                item.lane = static_cast<std::uint8_t>(best);
                lanes[best].line.push_back(n);
                continue;
            }
            Item& before = items[lane.line.back()];
            if (item.start - before.start < shortest) {
                // Two notes too close for both to be heard (a rolled chord):
                // the line keeps the higher for the melody, the lower for the
                // bass, and leaves the other out rather than cut it to a click.
                const bool keepBefore = takeMelody ? before.key > item.key : before.key < item.key;
                Item& left = keepBefore ? item : before;
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

// Where lane `lane` is last taken before `item` would start, when it is free
// for all of it.
std::optional<std::uint64_t> gapBefore(const Lane& lane, const Item& item) {
    if (lane.lastEnd > item.start) {
        return std::nullopt;
    }
    const auto next =
        std::partition_point(lane.taken.begin(), lane.taken.end(),
                             [&](const std::pair<std::uint64_t, std::uint64_t>& span) {
                                 return span.second <= item.start;
                             });
    if (next != lane.taken.end() && next->first < item.frees()) {
        return std::nullopt;
    }
    std::uint64_t gap = lane.lastEnd;
    if (next != lane.taken.begin()) {
        gap = std::max(gap, (next - 1)->second);
    }
    return gap;
}

// Channels by the tick from which each is free, earliest first. Notes come in
// the order they free a channel, so a channel a note takes is then free the
// latest of all, and goes last.
class FreeChannels {
public:
    void add(std::uint32_t channel) { free_.insert(free_.begin(), {0, channel}); }
    // Where in the list the channel free at `start` that was taken latest
    // stands, or none.
    std::optional<std::size_t> latestFreeAt(std::uint64_t start) const {
        const auto after = std::upper_bound(
            free_.begin(), free_.end(), start,
            [](std::uint64_t tick, const std::pair<std::uint64_t, std::uint32_t>& slot) {
                return tick < slot.first;
            });
        if (after == free_.begin()) {
            return std::nullopt;
        }
        return static_cast<std::size_t>(after - free_.begin()) - 1;
    }
    std::uint64_t freeFrom(std::size_t at) const { return free_[at].first; }
    std::uint32_t channel(std::size_t at) const { return free_[at].second; }
    // The channel at `at` taken until `until`, the latest of all.
    void take(std::size_t at, std::uint64_t until) {
        std::rotate(free_.begin() + static_cast<std::ptrdiff_t>(at),
                    free_.begin() + static_cast<std::ptrdiff_t>(at) + 1, free_.end());
        free_.back().first = until;
    }

private:
    std::vector<std::pair<std::uint64_t, std::uint32_t>> free_;
};

// Interval scheduling on `count` channels: the notes of `byEnd` that `takes`
// picks, in the order they free a channel, each to the channel free at its
// start that was taken latest; `place(note, channel)` for those that fit
// whole. With notes in that order this holds the most notes there can be.
template <typename Takes, typename Place>
void scheduleByEnd(const std::vector<Item>& items, const std::vector<std::uint32_t>& byEnd,
                   std::uint32_t count, Takes takes, Place place) {
    FreeChannels free;
    for (std::uint32_t c = count; c > 0; --c) {
        free.add(c - 1);
    }
    for (const std::uint32_t n : byEnd) {
        if (!takes(items[n])) {
            continue;
        }
        const std::optional<std::size_t> at = free.latestFreeAt(items[n].start);
        if (at) {
            const std::uint32_t channel = free.channel(*at);
            free.take(*at, items[n].frees());
            place(n, channel);
        }
    }
}

// A stable radix sort of `entries` by `key(entry)`, 11 bits a pass, as many
// passes as `latest` needs.
template <typename Entry, typename Key>
void radixSort(std::vector<Entry>& entries, std::uint64_t latest, Key key) {
    constexpr unsigned kBits = 11;
    constexpr std::uint64_t kMask = (std::uint64_t{1} << kBits) - 1;
    std::vector<Entry> sorted(entries.size());
    std::vector<std::size_t> at(kMask + 2);
    for (unsigned shift = 0; shift < 64 && (latest >> shift) != 0; shift += kBits) {
        std::fill(at.begin(), at.end(), 0);
        for (const Entry& entry : entries) {
            ++at[((key(entry) >> shift) & kMask) + 1];
        }
        for (std::size_t d = 1; d < at.size(); ++d) {
            at[d] += at[d - 1];
        }
        for (const Entry& entry : entries) {
            sorted[at[(key(entry) >> shift) & kMask]++] = entry;
        }
        entries.swap(sorted);
    }
}

// The notes in the order they free a channel, as they are (none cut yet), in
// the song's order on a tie. Ticks and note numbers below 2^32 (as good as
// every file) sort as one 64-bit word each.
std::vector<std::uint32_t> byFreeing(const std::vector<Item>& items) {
    std::uint64_t latest = 0;
    for (const Item& item : items) {
        latest = std::max(latest, item.frees());
    }
    std::vector<std::uint32_t> order(items.size());
    if (latest <= std::numeric_limits<std::uint32_t>::max()) {
        std::vector<std::uint64_t> keyed(items.size());
        for (std::uint32_t n = 0; n < keyed.size(); ++n) {
            keyed[n] = items[n].frees() << 32 | n;
        }
        radixSort(keyed, latest, [](std::uint64_t entry) { return entry >> 32; });
        for (std::size_t i = 0; i < keyed.size(); ++i) {
            order[i] = static_cast<std::uint32_t>(keyed[i]);
        }
        return order;
    }
    std::vector<std::pair<std::uint64_t, std::uint32_t>> keyed(items.size());
    for (std::uint32_t n = 0; n < keyed.size(); ++n) {
        keyed[n] = {items[n].frees(), n};
    }
    radixSort(keyed, latest,
              [](const std::pair<std::uint64_t, std::uint32_t>& entry) { return entry.first; });
    for (std::size_t i = 0; i < keyed.size(); ++i) {
        order[i] = keyed[i].second;
    }
    return order;
}

// The line note of `lane` sounding at `tick`, if any.
const Item* soundingAt(const std::vector<Item>& items, const Lane& lane, std::uint64_t tick) {
    const auto next = std::partition_point(lane.line.begin(), lane.line.end(),
                                           [&](std::uint32_t n) { return items[n].start <= tick; });
    if (next == lane.line.begin()) {
        return nullptr;
    }
    const Item& item = items[*(next - 1)];
    return item.frees() > tick ? &item : nullptr;
}

// The pitched notes that are no line's, in the order they free a channel;
// of those that free it at one tick, first the chord tones that the melody
// and the bass do not already sound (by pitch class) where they start.
std::vector<std::uint32_t> harmonyOrder(const std::vector<Item>& items,
                                        const std::vector<std::uint32_t>& byEnd,
                                        const std::vector<Lane>& lanes) {
    const auto doubled = [&](const Item& item) {
        for (std::size_t l = 0; l < std::min<std::size_t>(lanes.size(), 2); ++l) {
            const Item* line = soundingAt(items, lanes[l], item.start);
            if (line != nullptr && line->key % 12 == item.key % 12) {
                return true;
            }
        }
        return false;
    };
    std::vector<std::uint32_t> order;
    for (const std::uint32_t n : byEnd) {
        if (!items[n].drum && !items[n].line) {
            order.push_back(n);
        }
    }
    for (std::size_t i = 0; i < order.size();) {
        std::size_t j = i + 1;
        while (j < order.size() && items[order[j]].frees() == items[order[i]].frees()) {
            ++j;
        }
        if (j - i > 1) {
            std::stable_partition(order.begin() + static_cast<std::ptrdiff_t>(i),
                                  order.begin() + static_cast<std::ptrdiff_t>(j),
                                  [&](std::uint32_t n) { return !doubled(items[n]); });
        }
        i = j;
    }
    return order;
}

// The lane of `lanes` (from `from`) that holds most notes of `line`.
std::uint32_t laneWithMost(const std::vector<Item>& items, const std::vector<std::uint32_t>& line,
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

}  // namespace

std::string roleName(const FitChannel& channel) {
    switch (channel.role) {
        case Role::Melody: return "Melody";
        case Role::Bass: return "Bass";
        case Role::Drums: return "Drums";
        case Role::Harmony: break;
    }
    return "Harmony " + std::to_string(channel.number);
}

std::uint64_t mostHeld(const std::vector<std::pair<std::uint64_t, std::uint64_t>>& notes,
                       std::uint32_t channels) {
    std::vector<Item> items;
    items.reserve(notes.size());
    for (const auto& [start, end] : notes) {
        items.push_back({start, end, 0, 0, 0, kNoItemLane, false});
    }
    std::uint64_t held = 0;
    scheduleByEnd(
        items, byFreeing(items), channels, [](const Item&) { return true; },
        [&](std::uint32_t, std::uint32_t) { ++held; });
    return held;
}

namespace {

// The notes of every track, paired as the converter pairs them, each with its
// part (track and channel, numbered in that order); in `lead`, the tracks
// whose name or instrument says they carry the tune.
std::vector<Item> readNotes(const Song& song, std::vector<SourcePart>& parts,
                            std::vector<bool>& lead) {
    std::vector<Item> items;
    std::size_t hint = 0;
    for (const TrackChunk& track : song.tracks) {
        hint += track.length / 8;  // a note-on and its note-off take 6 to 8 bytes
    }
    items.reserve(hint);
    lead.assign(song.tracks.size(), false);
    auto sounding = std::make_unique<Sounding>();
    for (std::uint32_t t = 0; t < song.tracks.size(); ++t) {
        sounding->reset();
        const std::size_t first = items.size();
        std::array<bool, 16> used{};
        TimedReader reader(song.tracks[t]);
        TrackEvent event;
        std::uint64_t tick = 0;
        std::uint32_t nextNote = 0;
        while (reader.next(event, tick)) {
            if (event.kind == EventKind::Meta) {
                lead[t] =
                    lead[t] ||
                    (event.text != nullptr &&
                     (event.metaType == kTrackNameMeta || event.metaType == kInstrumentNameMeta) &&
                     namesLead(event.text, event.textLength));
                continue;
            }
            const auto ended = [&](std::uint32_t note, std::uint8_t) {
                items[first + note].end = tick;
            };
            if (pairNote(event, *sounding, nextNote, ended)) {
                const std::uint8_t channel = channelOf(event.status);
                used[channel] = true;
                // The channel for now; its part once the track is read.
                items.push_back({tick, tick, channel, event.data1, event.data2, kNoItemLane,
                                 channel == kDrumChannel});
                ++nextNote;
            }
        }
        sounding->forEach([&](std::uint8_t, std::uint8_t, std::uint32_t note) {
            items[first + note].end = reader.endTick();
        });
        std::array<std::uint32_t, 16> partOf{};
        for (std::uint8_t c = 0; c < 16; ++c) {
            if (used[c]) {
                partOf[c] = static_cast<std::uint32_t>(parts.size());
                parts.push_back({t, c});
            }
        }
        for (std::size_t n = first; n < items.size(); ++n) {
            items[n].part = partOf[items[n].part];
        }
    }
    return items;
}

// The notes in the order they start, the song's order on a tie: each track's
// are in that order already, so the tracks' runs are merged.
std::vector<std::uint32_t> byStarting(const std::vector<Item>& items,
                                      const std::vector<SourcePart>& parts) {
    std::vector<std::uint32_t> order(items.size());
    for (std::uint32_t n = 0; n < order.size(); ++n) {
        order[n] = n;
    }
    std::vector<std::size_t> runs{0};  // where each track's notes begin, and the end
    for (std::size_t n = 1; n < items.size(); ++n) {
        if (parts[items[n].part].track != parts[items[n - 1].part].track) {
            runs.push_back(n);
        }
    }
    runs.push_back(items.size());
    std::vector<std::uint32_t> merged(items.size());
    const auto earlier = [&](std::uint32_t a, std::uint32_t b) {
        return items[a].start < items[b].start;
    };
    while (runs.size() > 2) {
        std::vector<std::size_t> next{0};
        for (std::size_t r = 0; r + 1 < runs.size(); r += 2) {
            const std::size_t end = r + 2 < runs.size() ? runs[r + 2] : runs[r + 1];
            std::merge(order.begin() + static_cast<std::ptrdiff_t>(runs[r]),
                       order.begin() + static_cast<std::ptrdiff_t>(runs[r + 1]),
                       order.begin() + static_cast<std::ptrdiff_t>(runs[r + 1]),
                       order.begin() + static_cast<std::ptrdiff_t>(end),
                       merged.begin() + static_cast<std::ptrdiff_t>(runs[r]), earlier);
            next.push_back(end);
        }
        order.swap(merged);
        runs.swap(next);
    }
    return order;
}

}  // namespace

ChannelFit fitChannels(const Song& song, const FitOptions& options) {
    ChannelFit fit;
    std::vector<bool> lead;
    std::vector<Item> items = readNotes(song, fit.parts, lead);
    fit.notes = items.size();
    const std::vector<std::uint32_t> byStart = byStarting(items, fit.parts);
    // One order by end serves every schedule: the notes they place are whole.
    const std::vector<std::uint32_t> byEnd = byFreeing(items);
    scheduleByEnd(
        items, byEnd, options.channels, [](const Item&) { return true; },
        [&](std::uint32_t, std::uint32_t) { ++fit.most; });

    const bool hasDrums =
        std::any_of(items.begin(), items.end(), [](const Item& i) { return i.drum; });
    // Below 4 channels the drums get one only where the pitched notes all fit
    // whole in the others: a channel is never left empty while they go.
    const auto pitchedFitIn = [&](std::uint32_t count) {
        std::uint64_t placed = 0;
        std::uint64_t pitchedNotes = 0;
        scheduleByEnd(
            items, byEnd, count, [](const Item& i) { return !i.drum; },
            [&](std::uint32_t, std::uint32_t) { ++placed; });
        for (const Item& item : items) {
            pitchedNotes += item.drum ? 0 : 1;
        }
        return placed == pitchedNotes;
    };
    const bool drums =
        hasDrums &&
        (options.drums == DrumChoice::On ||
         (options.drums == DrumChoice::Auto &&
          (options.channels >= 4 || (options.channels > 1 && pitchedFitIn(options.channels - 1)))));
    const std::uint32_t pitched = options.channels - (drums ? 1 : 0);

    // The tune: the top line of the parts named for it, else of every pitched
    // part; the bass: the lowest line of the pitched notes left.
    const bool named = std::any_of(items.begin(), items.end(), [&](const Item& i) {
        return !i.drum && lead[fit.parts[i.part].track];
    });
    std::vector<std::uint32_t> melody = lineOf(items, byStart, true, [&](const Item& i) {
        return !i.drum && (!named || lead[fit.parts[i.part].track]);
    });
    std::vector<bool> inMelody(items.size(), false);
    for (const std::uint32_t n : melody) {
        inMelody[n] = true;
    }
    std::vector<std::uint32_t> bass;
    if (pitched >= 2) {
        bass = lineOf(items, byStart, false, [&](const Item& i) {
            return !i.drum && !inMelody[static_cast<std::size_t>(&i - items.data())];
        });
    }

    std::vector<Lane> lanes(pitched);
    const auto pitchedNotes = static_cast<std::uint64_t>(
        std::count_if(items.begin(), items.end(), [](const Item& i) { return !i.drum; }));
    // Where every pitched note fits whole, each keeps its whole length; the
    // lanes are then named for the lines they hold most of.
    std::uint64_t placed = 0;
    if (pitched > 0) {
        scheduleByEnd(
            items, byEnd, pitched, [](const Item& i) { return !i.drum; },
            [&](std::uint32_t n, std::uint32_t lane) {
                items[n].lane = static_cast<std::uint8_t>(lane);
                ++placed;
            });
    }
    if (pitched > 0 && placed == pitchedNotes) {
        std::vector<bool> labelled(pitched, false);
        const std::uint32_t m = laneWithMost(items, melody, labelled);
        lanes[m].role = Role::Melody;
        labelled[m] = true;
        if (pitched >= 2) {
            const std::uint32_t b = laneWithMost(items, bass, labelled);
            lanes[b].role = Role::Bass;
        }
    } else if (pitched > 0) {
        for (Item& item : items) {
            item.lane = kNoItemLane;
        }
        // Else the melody and the bass each take a lane, every note of their
        // lines struck, and the other pitched notes fill what is free of all
        // pitched lanes, as many as fit whole.
        lanes[0].role = Role::Melody;
        if (pitched > 1) {
            lanes[1].role = Role::Bass;
        }
        placeLines(items, lanes, melody, bass, shortestCut(song.division));
        // Lanes that hold no line note fill from the start: the latest free
        // of them is found at once; the others are searched.
        FreeChannels free;
        std::vector<std::uint32_t> withLines;
        for (std::uint32_t l = pitched; l > 0; --l) {
            Lane& lane = lanes[l - 1];
            if (lane.line.empty()) {
                free.add(l - 1);
                continue;
            }
            withLines.push_back(l - 1);
            lane.taken.reserve(lane.line.size());
            for (const std::uint32_t n : lane.line) {
                lane.taken.emplace_back(items[n].start, items[n].frees());
            }
        }
        for (const std::uint32_t n : harmonyOrder(items, byEnd, lanes)) {
            Item& item = items[n];
            std::uint32_t best = kNoLane;
            std::uint64_t bestGap = 0;
            const std::optional<std::size_t> at = free.latestFreeAt(item.start);
            if (at) {
                best = free.channel(*at);
                bestGap = free.freeFrom(*at);
            }
            // Harmony first on a tie, the line lanes last.
            for (const std::uint32_t l : withLines) {
                const std::optional<std::uint64_t> gap = gapBefore(lanes[l], item);
                if (gap && (best == kNoLane || *gap > bestGap)) {
                    best = l;
                    bestGap = *gap;
                }
            }
            if (best == kNoLane) {
                continue;
            }
            item.lane = static_cast<std::uint8_t>(best);
            if (lanes[best].line.empty()) {
                free.take(*at, item.frees());
            } else {
                lanes[best].lastEnd = item.frees();
            }
        }
    }
    if (drums) {
        Lane& lane = lanes.emplace_back();
        lane.role = Role::Drums;
        placeLine(items, lane, drumLine(items, byStart, shortestCut(song.division)),
                  static_cast<std::uint32_t>(lanes.size() - 1));
    }

    // The channels, most important role first, each note in the order they start.
    std::vector<std::vector<std::uint32_t>> held(lanes.size());
    for (const std::uint32_t n : byStart) {
        if (items[n].lane != kNoItemLane) {
            held[items[n].lane].push_back(n);
        }
    }
    std::uint32_t harmony = 0;
    for (const Role role : {Role::Melody, Role::Bass, Role::Drums, Role::Harmony}) {
        for (std::size_t l = 0; l < lanes.size(); ++l) {
            if (lanes[l].role != role || held[l].empty()) {
                continue;
            }
            FitChannel& channel = fit.channels.emplace_back();
            channel.role = role;
            channel.number = role == Role::Harmony ? ++harmony : 0;
            channel.fromPart.assign(fit.parts.size(), 0);
            for (const std::uint32_t n : held[l]) {
                const Item& item = items[n];
                const bool cut = item.cut;
                channel.notes.push_back(
                    {item.start, item.end, item.part, item.key, item.velocity, cut});
                ++channel.fromPart[item.part];
                channel.cutShort += cut ? 1 : 0;
                (cut ? fit.cutShort : fit.keptWhole) += 1;
            }
            channel.noteCount = channel.notes.size();
            channel.mainPart = static_cast<std::uint32_t>(
                std::max_element(channel.fromPart.begin(), channel.fromPart.end()) -
                channel.fromPart.begin());
            channel.midiChannel =
                role == Role::Drums ? kDrumChannel : fit.parts[channel.mainPart].channel;
        }
    }
    return fit;
}

}  // namespace mid2nolt
