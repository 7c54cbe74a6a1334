// The dealing of one channel's notes into monophonic voices.
#pragma once

#include <array>
#include <cstdint>
#include <limits>
#include <vector>

#include "midi/key_set.h"
#include "midi/large_pages.h"

namespace mid2nolt {

// A note's voice within its channel; kLeftOut when it has none.
constexpr std::uint32_t kLeftOut = std::numeric_limits<std::uint32_t>::max();

// A note ended early, at `tick`, for a note that took its voice: the one
// record of a cut; the note's voice then holds another.
struct Cut {
    std::uint64_t tick;
    std::uint32_t note;
    std::uint8_t channel;
    std::uint8_t key;
};

// Deals the notes of one channel into monophonic voices: a new voice only
// when none is free, else the free voice whose last note is nearest in pitch
// (the lower voice on a tie). With a limit and every voice busy, a note above
// or below everything sounding takes the voice of the note it passes, which
// ends there (or is left out, when it starts there too); any other note is
// left out.
class Dealer {
public:
    struct Voice {
        std::uint32_t note = kLeftOut;  // sounding now, or kLeftOut
        std::uint8_t key = 0;           // of the note sounding or last sounded
        std::uint64_t start = 0;
        std::uint64_t lastEnd = 0;
        bool acrossTempo = false;      // the note sounding now sounds across a change of tempo
        bool someAcrossTempo = false;  // some note of the voice does
        std::uint64_t notes = 0;       // the notes it plays
    };

    std::uint32_t limit = 0;
    std::uint64_t leftOut = 0;
    std::uint64_t cutShort = 0;
    std::vector<Voice> voices;

    // No voice yet; at most `maxVoices` (0: as many as needed).
    void reset(std::uint32_t maxVoices);
    // Whether `note`, of voice `v` (or kLeftOut), sounds in it: no note took
    // its voice since it started.
    bool holds(std::uint32_t v, std::uint32_t note) const {
        return v != kLeftOut && voices[v].note == note;
    }
    // Voice `v`'s note ends at `tick`.
    void release(std::uint32_t v, std::uint64_t tick);
    // The voice for `note` of `key` starting at `tick`, or kLeftOut. A note
    // it takes the voice of is marked in `voiceOf`: left out when it started
    // at `tick` too, else cut, with its end added to `cuts`.
    std::uint32_t place(std::uint32_t note, std::uint8_t key, std::uint64_t tick,
                        LargeVector<std::uint32_t>& voiceOf, std::vector<Cut>& cuts,
                        std::uint8_t channel);

private:
    std::uint32_t yieldingVoice(std::uint8_t key) const;
    std::uint32_t takeNearestFree(std::uint8_t key);

    // Free voices by the key of their last note: a bit per key that has any,
    // the lowest voice number, and the others in a min-heap (rarely any: the
    // heaps are made when first needed, so that a dealer costs little).
    KeySet free_;
    std::array<std::uint32_t, KeySet::kKeys> lowestFree_{};
    std::vector<std::vector<std::uint32_t>> moreFree_;
};

}  // namespace mid2nolt
