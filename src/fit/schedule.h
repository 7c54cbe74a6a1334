// Interval scheduling of the fit's notes on monophonic channels.
//
// Three places hand out free one-note slots, each for its own rule, which is
// why they are not one: the arranger's Dealer (arrange/dealer.h) deals notes
// as they start into as many voices as the music needs, each to the free
// voice nearest in pitch, and never drops a note but at a limit; FreeChannels
// here takes notes in the order they end, into a fixed number of channels,
// each to the channel free at its start that was taken latest, which holds the
// most notes there can be (and leaves notes out); keepPartsTogether
// (fit/lines.h) deals notes that are already known to fit again, in the order
// they start, to the channel their part took last, to keep phrases together.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

#include "fit/items.h"

namespace mid2nolt::fit {

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
template <typename Tick, typename Takes, typename Place>
void scheduleByEnd(const Items<Tick>& items, const Order& byEnd, std::uint32_t count, Takes takes,
                   Place place) {
    FreeChannels free;
    for (std::uint32_t c = count; c > 0; --c) {
        free.add(c - 1);
    }
    for (std::size_t i = 0; i < byEnd.size(); ++i) {
        fetchAhead(items, byEnd, i);
        const std::uint32_t n = byEnd[i];
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

}  // namespace mid2nolt::fit
