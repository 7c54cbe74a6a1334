// Which notes sound across a change of tempo, as a track's notes are dealt.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "arrange/dealer.h"
#include "midi/tempo.h"

namespace mid2nolt {

// Follows the tempo in force through one track, tick by tick: the tempo
// entries of the map known before the track (`base`, in the map's order) and
// the track's own, which come as it is read and follow base's at one tick.
// Where the tempo changes at a tick strictly inside a sounding note, that note
// and its voice are marked.
class TempoWatch {
public:
    explicit TempoWatch(const std::vector<TempoChange>& base) : base_(base) {}

    // Changes of `base` at ticks before `tick`, where the track has no event:
    // every note sounding began before them.
    void before(std::uint64_t tick, std::array<Dealer, 16>& dealers) {
        if (next_ < base_.size() && base_[next_].tick < tick) {
            changesBefore(tick, dealers);
        }
    }
    // A tempo entry of the track itself at `tick`, the tick being read.
    void own(std::uint64_t tick, std::uint32_t tempo) {
        ownTick_ = tick;
        ownTempo_ = tempo;
        hasOwn_ = true;
    }
    // Once the notes of `tick` are dealt: the change there, if any; notes that
    // end there do not sound across it, nor (`notesEnd`) do any at the end of
    // the track.
    void after(std::uint64_t tick, std::array<Dealer, 16>& dealers, bool notesEnd = false) {
        if (hasOwn_ || (next_ < base_.size() && base_[next_].tick == tick)) {
            changeAt(tick, dealers, notesEnd);
        }
    }

    std::uint64_t notesAcross() const { return notesAcross_; }

private:
    void changesBefore(std::uint64_t tick, std::array<Dealer, 16>& dealers);
    void changeAt(std::uint64_t tick, std::array<Dealer, 16>& dealers, bool notesEnd);
    void change(std::uint64_t tick, std::uint32_t tempo, std::array<Dealer, 16>& dealers,
                bool marks);

    const std::vector<TempoChange>& base_;
    std::size_t next_ = 0;
    std::uint32_t tempo_ = kDefaultTempo;
    bool hasOwn_ = false;
    std::uint64_t ownTick_ = 0;
    std::uint32_t ownTempo_ = 0;
    std::uint64_t notesAcross_ = 0;
};

}  // namespace mid2nolt
