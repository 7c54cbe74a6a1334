#include "fit/items.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <limits>
#include <memory>
#include <string>
#include <string_view>
#include <utility>

#include "fit/together.h"
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

// Reads tracks [first, last) into `items` and `fit`; where one does not end
// Read, `stopped` is that track.
template <typename Tick>
ReadEnd readTracks(const Song& song, std::uint32_t first, std::uint32_t last, ChannelFit& fit,
                   std::vector<bool>& lead, Items<Tick>& items, std::uint32_t& stopped) {
    auto sounding = std::make_unique<Sounding>();
    for (std::uint32_t t = first; t < last; ++t) {
        const ReadEnd end = readTrack(song.tracks[t], t, *sounding, fit, lead, items);
        if (end != ReadEnd::Read) {
            stopped = t;
            return end;
        }
    }
    return ReadEnd::Read;
}

// What a second thread reads of the later tracks, with parts and events of
// no channel of its own.
template <typename Tick>
struct Reading {
    ChannelFit fit;
    std::vector<bool> lead;
    Items<Tick> items;
};

// Adds what `later` read of the tracks from `first` on to what was read of
// those before: its parts numbered after theirs, its events' data after theirs.
template <typename Tick>
void joinLater(ChannelFit& fit, std::vector<bool>& lead, Items<Tick>& items, Reading<Tick>& later,
               std::uint32_t first) {
    const auto parts = static_cast<std::uint32_t>(fit.parts.size());
    fit.parts.insert(fit.parts.end(), std::make_move_iterator(later.fit.parts.begin()),
                     std::make_move_iterator(later.fit.parts.end()));
    items.reserve(items.size() + later.items.size());
    for (BasicItem<Tick> item : later.items) {
        item.part += parts;
        items.push_back(item);
    }
    Items<Tick>().swap(later.items);
    SongRest& rest = fit.rest;
    const std::size_t data = rest.data.size();
    rest.data.insert(rest.data.end(), later.fit.rest.data.begin(), later.fit.rest.data.end());
    for (TimedEvent event : later.fit.rest.others) {
        event.at += data;
        rest.others.push_back(event);
    }
    for (std::uint32_t t = first; t < rest.events.size(); ++t) {
        rest.events[t] = std::move(later.fit.rest.events[t]);
        lead[t] = later.lead[t];
    }
    rest.endTick = std::max(rest.endTick, later.fit.rest.endTick);
    fit.notes += later.fit.notes;
}

}  // namespace

template <typename Tick>
ReadEnd readNotes(std::unique_ptr<Song>& song, ChannelFit& fit, std::vector<bool>& lead,
                  Items<Tick>& items, std::uint32_t& longTrack) {
    const auto tracks = static_cast<std::uint32_t>(song->tracks.size());
    // Room for the notes before each track: a note with its note-off takes 6
    // bytes at least (running status), so the room never grows but for a
    // track of note-ons alone; where pages are mapped as written (Linux),
    // room not written takes none.
    std::vector<std::size_t> roomBefore(tracks + 1, 0);
    for (std::uint32_t t = 0; t < tracks; ++t) {
        roomBefore[t + 1] = roomBefore[t] + song->tracks[t].length / 6;
    }
    const std::size_t most = roomBefore[tracks];
    items.reserve(most);
    lead.assign(tracks, false);
    fit.rest.division = song->division;
    fit.rest.events.assign(tracks, {});
    // With notes enough, a second thread reads the later tracks, about half
    // the room, into a reading of its own.
    std::uint32_t split = tracks;
    if (most >= kNotesWorthSharing && tracks >= 2 && secondThread()) {
        split = static_cast<std::uint32_t>(
            std::lower_bound(roomBefore.begin() + 1, roomBefore.end() - 2, most / 2) -
            roomBefore.begin());
    }
    Reading<Tick> later;
    std::array<ReadEnd, 2> ends{ReadEnd::Read, ReadEnd::Read};
    std::array<std::uint32_t, 2> stopped{};
    runTogether(
        split < tracks,
        [&] { ends[0] = readTracks(*song, 0, split, fit, lead, items, stopped[0]); },
        [&] {
            if (split < tracks) {
                later.fit.rest.events.assign(tracks, {});
                later.lead.assign(tracks, false);
                later.items.reserve(most - roomBefore[split]);
                ends[1] = readTracks(*song, split, tracks, later.fit, later.lead, later.items,
                                     stopped[1]);
            }
        });
    for (std::size_t r = 0; r < 2; ++r) {
        if (ends[r] != ReadEnd::Read) {
            longTrack = stopped[r];
            return ends[r];
        }
    }
    song.reset();
    if (split < tracks) {
        joinLater(fit, lead, items, later, split);
    }
    return ReadEnd::Read;
}

template ReadEnd readNotes(std::unique_ptr<Song>&, ChannelFit&, std::vector<bool>&,
                           Items<std::uint32_t>&, std::uint32_t&);
template ReadEnd readNotes(std::unique_ptr<Song>&, ChannelFit&, std::vector<bool>&,
                           Items<std::uint64_t>&, std::uint32_t&);

}  // namespace mid2nolt::fit
