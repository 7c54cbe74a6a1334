#include "arrange/tempo_watch.h"

namespace mid2nolt {

void TempoWatch::change(std::uint64_t tick, std::uint32_t tempo, std::array<Dealer, 16>& dealers,
                        bool marks) {
    if (tempo == tempo_) {
        return;
    }
    tempo_ = tempo;
    if (!marks) {
        return;
    }
    for (Dealer& dealer : dealers) {
        for (Dealer::Voice& voice : dealer.voices) {
            if (voice.note != kLeftOut && voice.start < tick) {
                notesAcross_ += voice.acrossTempo ? 0 : 1;
                voice.acrossTempo = true;
                voice.someAcrossTempo = true;
            }
        }
    }
}

void TempoWatch::changesBefore(std::uint64_t tick, std::array<Dealer, 16>& dealers) {
    while (next_ < base_.size() && base_[next_].tick < tick) {
        // The last of the entries at one tick holds.
        const std::uint64_t at = base_[next_].tick;
        std::uint32_t tempo = base_[next_].tempo;
        while (++next_ < base_.size() && base_[next_].tick == at) {
            tempo = base_[next_].tempo;
        }
        change(at, tempo, dealers, true);
    }
}

void TempoWatch::changeAt(std::uint64_t tick, std::array<Dealer, 16>& dealers, bool notesEnd) {
    std::uint32_t tempo = tempo_;
    bool any = false;
    for (; next_ < base_.size() && base_[next_].tick == tick; ++next_) {
        tempo = base_[next_].tempo;
        any = true;
    }
    if (hasOwn_ && ownTick_ == tick) {
        tempo = ownTempo_;
        any = true;
    }
    hasOwn_ = false;
    if (any) {
        change(tick, tempo, dealers, !notesEnd);
    }
}

}  // namespace mid2nolt
