#include "midi/tempo.h"

namespace mid2nolt {

SecondsMap::SecondsMap(const std::vector<TempoChange>& changes, std::uint32_t division)
    : division_(division) {
    for (const TempoChange& change : changes) {
        const auto tick = static_cast<double>(change.tick);
        steps_.push_back({tick, secondsAt(steps_.back(), tick), static_cast<double>(change.tempo)});
    }
}

void SecondsMap::toSeconds(double* starts, double* ends, std::size_t count) const {
    std::size_t step = 0;
    for (std::size_t i = 0; i < count; ++i) {
        step = stepAt(starts[i], step);
        const std::size_t endStep = stepAt(ends[i], step);
        starts[i] = secondsAt(steps_[step], starts[i]);
        ends[i] = secondsAt(steps_[endStep], ends[i]);
    }
}

// The last step at or before `tick`, looked for from step `from` on when that
// is at or before it: a few steps on, mostly.
std::size_t SecondsMap::stepAt(double tick, std::size_t from) const {
    if (steps_[from].tick > tick) {
        from = 0;
    }
    for (int i = 0; i < 8; ++i, ++from) {
        if (from + 1 == steps_.size() || steps_[from + 1].tick > tick) {
            return from;
        }
    }
    const auto after =
        std::upper_bound(steps_.begin() + static_cast<std::ptrdiff_t>(from), steps_.end(), tick,
                         [](double t, const Step& s) { return t < s.tick; });
    return static_cast<std::size_t>(after - steps_.begin()) - 1;
}

}  // namespace mid2nolt
