// Tempo: changes by tick, the order of one song's map, and ticks in seconds.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <vector>

#include "midi/midi_facts.h"

namespace mid2nolt {

// A tempo change (microseconds a quarter note) at its tick.
struct TempoChange {
    std::uint64_t tick = 0;
    std::uint32_t tempo = 0;
};

// One song's tempo map from the events of its tracks, collected track after
// track: in tick order, earlier tracks first at one tick.
template <typename Entry>
void orderByTick(std::vector<Entry>& entries) {
    std::stable_sort(entries.begin(), entries.end(),
                     [](const Entry& a, const Entry& b) { return a.tick < b.tick; });
}
// The same where the entries before `middle` are in that order already and
// those after are a later track's, in its order.
template <typename Entry>
void orderByTick(std::vector<Entry>& entries, std::size_t middle) {
    std::inplace_merge(entries.begin(), entries.begin() + static_cast<std::ptrdiff_t>(middle),
                       entries.end(),
                       [](const Entry& a, const Entry& b) { return a.tick < b.tick; });
}

// Turns ticks into seconds by tempo changes in order of tick: each tick timed
// from the last change at or before it, at the default tempo before the first.
class SecondsMap {
public:
    SecondsMap(const std::vector<TempoChange>& changes, std::uint32_t division);

    double secondsAt(double tick) const { return secondsAt(steps_[stepAt(tick, 0)], tick); }
    // The same for ticks in order, looked for from where the last stood.
    double secondsAt(double tick, std::size_t& hint) const {
        hint = stepAt(tick, hint);
        return secondsAt(steps_[hint], tick);
    }
    // The tempo in force at `tick`, from which tick and until which (the next
    // change; infinity after the last); ticks in order, as for secondsAt with
    // a hint.
    struct Stretch {
        double from = 0;
        double until = 0;
        double tempo = 0;
    };
    Stretch stretchAt(double tick, std::size_t& hint) const {
        hint = stepAt(tick, hint);
        return {steps_[hint].tick,
                hint + 1 == steps_.size() ? std::numeric_limits<double>::infinity()
                                          : steps_[hint + 1].tick,
                steps_[hint].tempo};
    }
    // Times notes in place: their starts, in order, and their ends, none
    // before its start.
    void toSeconds(double* starts, double* ends, std::size_t count) const;

private:
    struct Step {
        double tick = 0;
        double seconds = 0;
        double tempo = kDefaultTempo;
    };
    std::size_t stepAt(double tick, std::size_t from) const;
    double secondsAt(const Step& step, double tick) const {
        return step.seconds + (tick - step.tick) * step.tempo / 1e6 / division_;
    }
    double division_;
    std::vector<Step> steps_{Step{}};
};

}  // namespace mid2nolt
