// Which part carries the tune: named for it, asked for, or heard in the
// music; and who carries it where that part rests.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "fit/channel_fit.h"
#include "fit/items.h"

namespace mid2nolt::fit {

// Who carries the tune at each tick, asked in the order notes start. The
// lead's parts carry it through their phrases; where they rest for a bar or
// more, the part that plays most of the tune meanwhile carries it; a line
// with no lead (the skyline) takes every pitched part.
class Tune {
public:
    Tune() = default;
    Tune(std::vector<bool> lead, std::vector<std::uint32_t> answers,
         std::vector<std::pair<std::uint64_t, std::uint64_t>> rests)
        : lead_(std::move(lead)), answers_(std::move(answers)), rests_(std::move(rests)) {}

    bool carries(std::uint32_t part, std::uint64_t tick) {
        while (at_ < rests_.size() && rests_[at_].second <= tick) {
            ++at_;
        }
        if (at_ < rests_.size() && rests_[at_].first <= tick) {
            return part == answers_[at_];
        }
        return lead_.empty() || lead_[part];
    }
    // Whether the line is a lead's, whose notes take over from one another.
    bool legato() const { return !lead_.empty(); }

private:
    std::vector<bool> lead_;                                      // per part; empty for the skyline
    std::vector<std::uint32_t> answers_;                          // per rest, the part that answers
    std::vector<std::pair<std::uint64_t, std::uint64_t>> rests_;  // [from, to), by tick
    std::size_t at_ = 0;
};

// The tune of the song: the part `options.melody` asks for, else the parts
// `named` (per track) where any has pitched notes, else the part a listener
// hears as the tune: one that plays one note at a time with a tune's rhythm
// and range, above the bass, through much of the song, and whose instrument
// (where the file gives one) is a voice or a solo; else the skyline. Sets
// `fit.tune`. False where the part asked for has no pitched note.
template <typename Tick>
bool findTune(const Items<Tick>& items, const Order& byStart, const Order& byEnd,
              const std::vector<bool>& named, const FitOptions& options, ChannelFit& fit,
              Tune& tune);

}  // namespace mid2nolt::fit
