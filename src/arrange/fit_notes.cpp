#include "arrange/fit_notes.h"

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

// A stable radix sort of `entries` by `key(entry)`, 11 bits a pass, as many
// passes as `latest` needs.
template <typename Entry, typename Key>
void radixSort(LargeVector<Entry>& entries, std::uint64_t latest, Key key) {
    constexpr unsigned kBits = 11;
    constexpr std::uint64_t kMask = (std::uint64_t{1} << kBits) - 1;
    LargeVector<Entry> sorted(entries.size());
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

}  // namespace

Items readNotes(const Song& song, ChannelFit& fit, std::vector<bool>& lead) {
    std::vector<SourcePart>& parts = fit.parts;
    SongRest& rest = fit.rest;
    Items items;
    std::size_t hint = 0;
    for (const TrackChunk& track : song.tracks) {
        hint += track.length / 8;  // a note-on and its note-off take 6 to 8 bytes
    }
    items.reserve(hint);
    lead.assign(song.tracks.size(), false);
    rest.events.assign(song.tracks.size(), {});
    auto sounding = std::make_unique<Sounding>();
    for (std::uint32_t t = 0; t < song.tracks.size(); ++t) {
        sounding->reset();
        const std::size_t first = items.size();
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
                if (t == 0 || event.metaType != kTrackNameMeta) {
                    rest.others.push_back({tick, event});
                }
                continue;
            }
            if (event.kind == EventKind::OtherChannel) {
                rest.events[t][channelOf(event.status)].push_back(
                    {tick, event.status, event.data1, event.data2});
                continue;
            }
            if (event.kind == EventKind::SystemExclusive || event.kind == EventKind::System) {
                rest.others.push_back({tick, event});
                continue;
            }
            const auto ended = [&](std::uint32_t note, std::uint8_t) {
                items[first + note].end = tick;
            };
            if (pairNote(event, *sounding, nextNote, ended)) {
                const std::uint8_t channel = channelOf(event.status);
                // The channel for now; its part once the track is read.
                items.push_back({tick, tick, channel, event.data1, event.data2, kNoItemLane,
                                 channel == kDrumChannel});
                ++nextNote;
            }
        }
        sounding->forEach([&](std::uint8_t, std::uint8_t, std::uint32_t note) {
            items[first + note].end = reader.endTick();
        });
        rest.endTick = std::max(rest.endTick, reader.endTick());
        // Notes of no length are counted and let go: no driver plays them.
        fit.notes += items.size() - first;
        items.erase(std::remove_if(items.begin() + static_cast<std::ptrdiff_t>(first), items.end(),
                                   [](const Item& i) { return i.end == i.start; }),
                    items.end());
        std::array<bool, 16> used{};
        for (std::size_t n = first; n < items.size(); ++n) {
            used[items[n].part] = true;
        }
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

Order byStarting(const Items& items, const std::vector<SourcePart>& parts) {
    Order order(items.size());
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
    Order merged(items.size());
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

Order byFreeing(const Items& items) {
    std::uint64_t latest = 0;
    for (const Item& item : items) {
        latest = std::max(latest, item.frees());
    }
    Order order(items.size());
    if (latest <= std::numeric_limits<std::uint32_t>::max()) {
        LargeVector<std::uint64_t> keyed(items.size());
        for (std::uint32_t n = 0; n < keyed.size(); ++n) {
            keyed[n] = items[n].frees() << 32 | n;
        }
        radixSort(keyed, latest, [](std::uint64_t entry) { return entry >> 32; });
        for (std::size_t i = 0; i < keyed.size(); ++i) {
            order[i] = static_cast<std::uint32_t>(keyed[i]);
        }
        return order;
    }
    LargeVector<std::pair<std::uint64_t, std::uint32_t>> keyed(items.size());
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

}  // namespace mid2nolt::fit
