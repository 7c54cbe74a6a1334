#include "arrange/channel_fit.h"

#include <algorithm>
#include <cctype>
#include <limits>
#include <optional>
#include <set>
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

struct Item {
    std::uint64_t start;
    std::uint64_t end;   // in the source
    std::uint64_t play;  // where its channel ends it: `end`, or earlier when cut short
    std::uint32_t part;
    std::uint8_t key;
    std::uint8_t velocity;
    bool drum;
    bool line = false;  // a note of the melody, bass or drum line
    std::uint32_t lane = kNoLane;

    std::uint64_t frees() const { return freedAt(start, play); }
};

// One channel as it fills: its line's notes (melody, bass or drums), each
// ended where the next starts, and the other notes it takes in the gaps,
// placed in the order they end.
struct Lane {
    Role role = Role::Harmony;
    std::vector<std::uint32_t> line;
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

std::vector<bool> leadTracks(const Song& song) {
    std::vector<bool> lead(song.tracks.size(), false);
    for (std::size_t t = 0; t < song.tracks.size(); ++t) {
        TimedReader reader(song.tracks[t]);
        TrackEvent event;
        std::uint64_t tick = 0;
        while (!lead[t] && reader.next(event, tick)) {
            lead[t] = event.kind == EventKind::Meta && event.text != nullptr &&
                      (event.metaType == kTrackNameMeta || event.metaType == kInstrumentNameMeta) &&
                      namesLead(event.text, event.textLength);
        }
    }
    return lead;
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
        std::uint32_t best = kNoLane;
        for (; i < byStart.size() && items[byStart[i]].start == tick; ++i) {
            const std::uint32_t n = byStart[i];
            if (takes(items[n]) && (best == kNoLane || (top ? items[n].key > items[best].key
                                                            : items[n].key < items[best].key))) {
                best = n;
            }
        }
        if (best != kNoLane) {
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
        std::uint32_t best = kNoLane;
        for (; i < byStart.size() && items[byStart[i]].start == tick; ++i) {
            const Item& item = items[byStart[i]];
            if (item.drum &&
                (best == kNoLane || std::pair(drumRank(item.key), item.key) <
                                        std::pair(drumRank(items[best].key), items[best].key))) {
                best = byStart[i];
            }
        }
        if (best == kNoLane) {
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
        item.lane = laneNumber;
        if (i + 1 < line.size()) {
            item.play = std::min(item.play, items[line[i + 1]].start);
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
            if (best != kNoLane) {
                item.lane = best;
                lanes[best].line.push_back(n);
                continue;
            }
            Item& before = items[lane.line.back()];
            if (item.start - before.start < shortest) {
                // Too short to be heard once cut: left out, not a sliver.
                before.lane = kNoLane;
                before.line = false;
                before.play = before.end;
                lane.line.pop_back();
            } else {
                before.play = std::min(before.play, item.start);
            }
        }
        item.lane = own;
        lane.line.push_back(n);
    }
}

// Where lane `lane` is last taken before `item` would start, when it is free
// for all of it.
std::optional<std::uint64_t> gapBefore(const std::vector<Item>& items, const Lane& lane,
                                       const Item& item) {
    if (lane.lastEnd > item.start) {
        return std::nullopt;
    }
    const auto next =
        std::partition_point(lane.line.begin(), lane.line.end(),
                             [&](std::uint32_t n) { return items[n].frees() <= item.start; });
    if (next != lane.line.end() && items[*next].start < item.frees()) {
        return std::nullopt;
    }
    std::uint64_t gap = lane.lastEnd;
    if (next != lane.line.begin()) {
        gap = std::max(gap, items[*(next - 1)].frees());
    }
    return gap;
}

// Interval scheduling on `count` channels: the notes `order` gives (by the
// tick they free a channel), each to the channel free before it that was
// taken latest; `place(note, channel)` for those that fit whole.
template <typename Place>
void scheduleByEnd(const std::vector<std::pair<std::uint64_t, std::uint64_t>>& spans,
                   const std::vector<std::uint32_t>& order, std::uint32_t count, Place place) {
    std::set<std::pair<std::uint64_t, std::uint32_t>> free;  // (taken until, channel)
    for (std::uint32_t c = 0; c < count; ++c) {
        free.insert({0, c});
    }
    for (const std::uint32_t n : order) {
        const auto [start, frees] = spans[n];
        auto it = free.upper_bound({start, std::numeric_limits<std::uint32_t>::max()});
        if (it == free.begin()) {
            continue;
        }
        --it;
        const std::uint32_t channel = it->second;
        free.erase(it);
        free.insert({frees, channel});
        place(n, channel);
    }
}

std::vector<std::uint32_t> byFreeing(
    const std::vector<std::pair<std::uint64_t, std::uint64_t>>& spans) {
    std::vector<std::uint32_t> order(spans.size());
    for (std::uint32_t n = 0; n < order.size(); ++n) {
        order[n] = n;
    }
    std::stable_sort(order.begin(), order.end(), [&](std::uint32_t a, std::uint32_t b) {
        return spans[a].second < spans[b].second;
    });
    return order;
}

std::vector<std::pair<std::uint64_t, std::uint64_t>> spansOf(
    const std::vector<Item>& items, const std::vector<std::uint32_t>& which) {
    std::vector<std::pair<std::uint64_t, std::uint64_t>> spans;
    spans.reserve(which.size());
    for (const std::uint32_t n : which) {
        spans.emplace_back(items[n].start, items[n].frees());
    }
    return spans;
}

// The lane of `lanes` (from `from`) that holds most notes of `line`.
std::uint32_t laneWithMost(const std::vector<Item>& items, const std::vector<std::uint32_t>& line,
                           const std::vector<bool>& labelled) {
    std::vector<std::uint64_t> count(labelled.size(), 0);
    for (const std::uint32_t n : line) {
        if (items[n].lane != kNoLane) {
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

std::uint64_t mostHeld(std::vector<std::pair<std::uint64_t, std::uint64_t>> notes,
                       std::uint32_t channels) {
    for (std::pair<std::uint64_t, std::uint64_t>& span : notes) {
        span.second = freedAt(span.first, span.second);
    }
    std::uint64_t held = 0;
    scheduleByEnd(notes, byFreeing(notes), channels, [&](std::uint32_t, std::uint32_t) { ++held; });
    return held;
}

ChannelFit fitChannels(const Song& song, const FitOptions& options) {
    ChannelFit fit;
    const std::vector<bool> lead = leadTracks(song);
    std::vector<Item> items;
    std::vector<std::uint32_t> byStart;
    {
        const std::vector<std::vector<Note>> tracks = songNotes(song);
        for (std::uint32_t t = 0; t < tracks.size(); ++t) {
            std::array<std::uint32_t, 16> partOf{};
            partOf.fill(kNoLane);
            for (const Note& note : tracks[t]) {
                if (partOf[note.channel] == kNoLane) {
                    partOf[note.channel] = 0;
                }
            }
            for (std::uint8_t c = 0; c < 16; ++c) {
                if (partOf[c] != kNoLane) {
                    partOf[c] = static_cast<std::uint32_t>(fit.parts.size());
                    fit.parts.push_back({t, c});
                }
            }
            for (const Note& note : tracks[t]) {
                items.push_back({note.start, note.end, note.end, partOf[note.channel], note.key,
                                 note.velocity, note.channel == kDrumChannel});
            }
        }
    }
    fit.notes = items.size();
    byStart.resize(items.size());
    for (std::uint32_t n = 0; n < byStart.size(); ++n) {
        byStart[n] = n;
    }
    std::stable_sort(byStart.begin(), byStart.end(), [&](std::uint32_t a, std::uint32_t b) {
        return items[a].start < items[b].start;
    });
    {
        std::vector<std::pair<std::uint64_t, std::uint64_t>> all;
        all.reserve(items.size());
        for (const Item& item : items) {
            all.emplace_back(item.start, item.end);
        }
        fit.most = mostHeld(std::move(all), options.channels);
    }

    const bool hasDrums =
        std::any_of(items.begin(), items.end(), [](const Item& i) { return i.drum; });
    const bool drums = hasDrums && (options.drums == DrumChoice::On ||
                                    (options.drums == DrumChoice::Auto && options.channels >= 4));
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
    std::vector<std::uint32_t> tones;  // the pitched notes
    for (std::uint32_t n = 0; n < items.size(); ++n) {
        if (!items[n].drum) {
            tones.push_back(n);
        }
    }
    // Where every pitched note fits whole, each keeps its whole length; the
    // lanes are then named for the lines they hold most of.
    std::uint64_t placed = 0;
    if (pitched > 0) {
        const auto spans = spansOf(items, tones);
        scheduleByEnd(spans, byFreeing(spans), pitched, [&](std::uint32_t n, std::uint32_t lane) {
            items[tones[n]].lane = lane;
            ++placed;
        });
    }
    if (pitched > 0 && placed == tones.size()) {
        std::vector<bool> labelled(pitched, false);
        const std::uint32_t m = laneWithMost(items, melody, labelled);
        lanes[m].role = Role::Melody;
        labelled[m] = true;
        if (pitched >= 2) {
            const std::uint32_t b = laneWithMost(items, bass, labelled);
            lanes[b].role = Role::Bass;
        }
    } else if (pitched > 0) {
        for (const std::uint32_t n : tones) {
            items[n].lane = kNoLane;
        }
        // Else the melody and the bass each take a lane, every note of their
        // lines struck, and the other pitched notes fill what is free of all
        // pitched lanes, as many as fit whole.
        if (pitched > 0) {
            lanes[0].role = Role::Melody;
        }
        if (pitched > 1) {
            lanes[1].role = Role::Bass;
        }
        placeLines(items, lanes, melody, bass, shortestCut(song.division));
        std::vector<std::uint32_t> rest;
        for (const std::uint32_t n : tones) {
            if (!items[n].line) {
                rest.push_back(n);
            }
        }
        // Lanes that hold no line note yet fill from the start, by end: a set
        // of where each is taken until finds the best at once.
        const auto spans = spansOf(items, rest);
        std::set<std::pair<std::uint64_t, std::uint32_t>> free;
        std::vector<std::uint32_t> withLines;
        for (std::uint32_t l = 0; l < pitched; ++l) {
            if (lanes[l].line.empty()) {
                free.insert({0, l});
            } else {
                withLines.push_back(l);
            }
        }
        for (const std::uint32_t r : byFreeing(spans)) {
            Item& item = items[rest[r]];
            std::uint32_t best = kNoLane;
            std::uint64_t bestGap = 0;
            auto it = free.upper_bound({item.start, kNoLane});
            if (it != free.begin()) {
                --it;
                best = it->second;
                bestGap = it->first;
            }
            // The line lanes last: harmony first on a tie.
            for (auto l = withLines.rbegin(); l != withLines.rend(); ++l) {
                const std::optional<std::uint64_t> gap = gapBefore(items, lanes[*l], item);
                if (gap && (best == kNoLane || *gap > bestGap)) {
                    best = *l;
                    bestGap = *gap;
                }
            }
            if (best == kNoLane) {
                continue;
            }
            item.lane = best;
            if (lanes[best].line.empty()) {
                free.erase(it);
                free.insert({item.frees(), best});
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
        if (items[n].lane != kNoLane) {
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
                const bool cut = item.play < item.end;
                channel.notes.push_back(
                    {item.start, item.play, item.part, item.key, item.velocity, cut});
                ++channel.fromPart[item.part];
                channel.cutShort += cut ? 1 : 0;
                (cut ? fit.cutShort : fit.keptWhole) += 1;
            }
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
