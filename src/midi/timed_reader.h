// A track chunk read event by event with each event's tick.
#pragma once

#include <cstdint>
#include <limits>

#include "midi/song.h"
#include "midi/track_events.h"

namespace mid2nolt {

constexpr std::uint64_t kLastTick = std::numeric_limits<std::uint64_t>::max();

// Reads a track chunk event by event, with each event's tick, up to the end
// of track. Stray data bytes are left out, as the walk leaves them.
class TimedReader {
public:
    explicit TimedReader(const TrackChunk& track) : reader_(track.data, track.length) {}

    bool next(TrackEvent& event, std::uint64_t& tick) {
        std::uint64_t delta = 0;
        while (!done_ && reader_.readDelta(delta)) {
            if (delta > kLastTick - tick_) {
                overflowed_ = true;
                break;
            }
            if (!reader_.readEvent(event)) {
                break;
            }
            tick_ += delta;
            if (event.kind == EventKind::EndOfTrack) {
                break;
            }
            if (event.kind != EventKind::StrayData) {
                tick = tick_;
                return true;
            }
        }
        done_ = true;
        return false;
    }

    // The tick of the end of track, or of the last event when there is none.
    std::uint64_t endTick() const { return tick_; }
    // Whether the ticks ran past 64 bits (reading stops there).
    bool overflowed() const { return overflowed_; }

private:
    TrackEventReader reader_;
    std::uint64_t tick_ = 0;
    bool done_ = false;
    bool overflowed_ = false;
};

}  // namespace mid2nolt
