#include "fit/items.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <limits>
#include <memory>
#include <string>
#include <string_view>
#include <utility>

#include "midi/midi_facts.h"
#include "midi/notes.h"

namespace mid2nolt::fit {

namespace {

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

// The notes by `key`, in the song's order on a tie: a stable radix sort of
// their numbers, a pass for each digit place (of `bits` bits) where the keys
// differ, from the counts of each place's digits (`counts`, place after
// place). The first pass reads the notes in the song's order, as they are
// held. `spare` is room for a pass, kept from sort to sort: fresh memory
// costs a fault per page.
template <typename Tick, typename Key>
Order sortedBy(const Items<Tick>& items, Key key, const std::uint32_t* counts, std::size_t places,
               unsigned bits, Order& spare) {
    const std::size_t values = std::size_t{1} << bits;
    const std::uint64_t mask = values - 1;
    Order order(items.size());
    std::vector<std::uint32_t> at(values);
    for (std::size_t place = 0; place < places; ++place) {
        const std::uint32_t* count = counts + place * values;
        // A place where every key has the same digit leaves the order as it is.
        if (place > 0 && std::find(count, count + values, items.size()) != count + values) {
            continue;
        }
        std::uint32_t sum = 0;
        for (std::size_t d = 0; d < values; ++d) {
            at[d] = sum;
            sum += count[d];
        }
        const unsigned shift = static_cast<unsigned>(place) * bits;
        if (place == 0) {
            for (std::uint32_t n = 0; n < items.size(); ++n) {
                order[at[key(items[n]) & mask]++] = n;
            }
            continue;
        }
        spare.resize(items.size());
        for (std::size_t i = 0; i < order.size(); ++i) {
            fetchAhead(items, order, i);
            const std::uint32_t n = order[i];
            spare[at[(key(items[n]) >> shift) & mask]++] = n;
        }
        order.swap(spare);
    }
    return order;
}

}  // namespace

namespace {

// A track's names: whether one says it carries the tune, and the name its
// parts go by (its first track name, else its first instrument name).
struct TrackNames {
    bool lead = false;
    std::string name;
    bool named = false;  // by a track name
};

// Keeps an event that is no note: a channel event with its part's, the others
// (but track names after track 0) with their data; and reads the names.
void keepEvent(SongRest& rest, std::uint32_t track, std::uint64_t tick, const TrackEvent& event,
               TrackNames& names) {
    switch (event.kind) {
        case EventKind::NoteOff:
        case EventKind::NoteOn:
        case EventKind::EndOfTrack:
        case EventKind::StrayData: return;
        case EventKind::OtherChannel:
            rest.events[track][channelOf(event.status)].push_back(
                {tick, event.status, event.data1, event.data2});
            return;
        case EventKind::Meta:
            if (event.text != nullptr &&
                (event.metaType == kTrackNameMeta || event.metaType == kInstrumentNameMeta)) {
                names.lead = names.lead || namesLead(event.text, event.textLength);
                const bool trackName = event.metaType == kTrackNameMeta;
                if (!names.named && (trackName || names.name.empty())) {
                    names.name.assign(event.text, event.text + event.textLength);
                    names.named = trackName;
                }
            }
            if (track != 0 && event.metaType == kTrackNameMeta) {
                return;
            }
            break;
        case EventKind::SystemExclusive:
        case EventKind::System: break;
    }
    const std::size_t at = rest.data.size();
    rest.data.insert(rest.data.end(), event.data, event.data + event.dataLength);
    rest.others.push_back(
        {tick, event.kind, event.status, event.metaType, event.dataLength, at,
         event.kind == EventKind::Meta && event.metaType == kTempoMeta ? event.tempo : 0});
}

// The first program a channel's events give, or -1.
int programOf(const std::vector<ChannelEvent>& events) {
    for (const ChannelEvent& event : events) {
        if ((event.status & 0xF0u) == 0xC0u) {
            return event.data1;
        }
    }
    return -1;
}

// Lets go the notes of a track from `first` on that have no length (no driver
// plays them), and gives the others their part: each channel that keeps a
// note is a part, numbered after those before, with the track's name and the
// channel's first program there.
template <typename Tick>
void finishTrack(Items<Tick>& items, std::size_t first, std::uint32_t track,
                 const std::string& name, ChannelFit& fit) {
    std::vector<SourcePart>& parts = fit.parts;
    items.erase(std::remove_if(items.begin() + static_cast<std::ptrdiff_t>(first), items.end(),
                               [](const BasicItem<Tick>& i) { return i.end == i.start; }),
                items.end());
    std::array<bool, 16> used{};
    for (std::size_t n = first; n < items.size(); ++n) {
        used[items[n].part] = true;
    }
    std::array<std::uint32_t, 16> partOf{};
    for (std::uint8_t c = 0; c < 16; ++c) {
        if (used[c]) {
            partOf[c] = static_cast<std::uint32_t>(parts.size());
            parts.push_back({track, c, name, programOf(fit.rest.events[track][c])});
        }
    }
    for (std::size_t n = first; n < items.size(); ++n) {
        items[n].part = partOf[items[n].part];
    }
}

// Reads track `t` into `items` and `fit`: see readNotes.
template <typename Tick>
ReadEnd readTrack(const TrackChunk& chunk, std::uint32_t t, Sounding& sounding, ChannelFit& fit,
                  std::vector<bool>& lead, Items<Tick>& items) {
    constexpr std::uint64_t kMostTick = std::numeric_limits<Tick>::max();
    const std::size_t first = items.size();
    bool fits = true;
    TrackNames names;
    const TrackEnd end = pairTrack(
        chunk, sounding,
        [&](std::uint64_t tick, std::uint8_t channel, std::uint8_t key, std::uint8_t velocity) {
            fits = fits && tick <= kMostTick;
            // The channel for now; its part once the track is read.
            items.push_back({static_cast<Tick>(tick), static_cast<Tick>(tick), channel, key,
                             velocity, kNoItemLane, channel == kDrumChannel});
        },
        [&](std::uint32_t note, std::uint64_t tick) {
            fits = fits && tick <= kMostTick;
            items[first + note].end = static_cast<Tick>(tick);
        },
        [&](const TrackEvent& event, std::uint64_t tick) {
            keepEvent(fit.rest, t, tick, event, names);
        });
    if (end.overflowed) {
        return ReadEnd::TooLong;
    }
    if (!fits) {
        return ReadEnd::WiderTicks;
    }
    lead[t] = names.lead;
    fit.rest.endTick = std::max(fit.rest.endTick, end.tick);
    fit.notes += items.size() - first;
    finishTrack(items, first, t, names.name, fit);
    return ReadEnd::Read;
}

}  // namespace

template <typename Tick>
ReadEnd readNotes(const Song& song, ChannelFit& fit, std::vector<bool>& lead, Items<Tick>& items,
                  std::uint32_t& longTrack) {
    std::size_t most = 0;
    for (const TrackChunk& track : song.tracks) {
        // A note with its note-off takes 6 bytes at least (running status),
        // so the room never grows but for a track of note-ons alone; where
        // pages are mapped as written (Linux), room not written takes none.
        most += track.length / 6;
    }
    items.reserve(most);
    lead.assign(song.tracks.size(), false);
    fit.rest.division = song.division;
    fit.rest.events.assign(song.tracks.size(), {});
    auto sounding = std::make_unique<Sounding>();
    for (std::uint32_t t = 0; t < song.tracks.size(); ++t) {
        const ReadEnd end = readTrack(song.tracks[t], t, *sounding, fit, lead, items);
        if (end != ReadEnd::Read) {
            longTrack = t;
            return end;
        }
    }
    return ReadEnd::Read;
}

template <typename Tick>
void sortNotes(const Items<Tick>& items, Order& byStart, Order& byEnd) {
    // Digits of 16 bits for many notes and of 8 for fewer than 65,536 (as
    // most songs have), whose counts would otherwise cost more than the notes.
    const unsigned bits = items.size() < (std::size_t{1} << 16) ? 8 : 16;
    const std::size_t places = sizeof(Tick) * 8 / bits;
    const std::size_t values = std::size_t{1} << bits;
    const std::uint64_t mask = values - 1;
    // The digits of both keys, counted in one read of the notes.
    std::vector<std::uint32_t> counts(2 * places * values, 0);
    std::uint32_t* const ends = counts.data() + places * values;
    for (const BasicItem<Tick>& item : items) {
        std::uint64_t start = item.start;
        std::uint64_t end = item.frees();
        for (std::size_t place = 0; place < places; ++place) {
            ++counts[place * values + (start & mask)];
            ++ends[place * values + (end & mask)];
            start >>= bits;
            end >>= bits;
        }
    }
    Order spare;
    byStart = sortedBy(
        items, [](const BasicItem<Tick>& item) { return std::uint64_t{item.start}; }, counts.data(),
        places, bits, spare);
    byEnd = sortedBy(
        items, [](const BasicItem<Tick>& item) { return item.frees(); }, ends, places, bits, spare);
}

template ReadEnd readNotes(const Song&, ChannelFit&, std::vector<bool>&, Items<std::uint32_t>&,
                           std::uint32_t&);
template ReadEnd readNotes(const Song&, ChannelFit&, std::vector<bool>&, Items<std::uint64_t>&,
                           std::uint32_t&);
template void sortNotes(const Items<std::uint32_t>&, Order&, Order&);
template void sortNotes(const Items<std::uint64_t>&, Order&, Order&);

}  // namespace mid2nolt::fit
