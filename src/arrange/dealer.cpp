#include "arrange/dealer.h"

#include <algorithm>
#include <functional>
#include <utility>

namespace mid2nolt {

void Dealer::reset(std::uint32_t maxVoices) {
    limit = maxVoices;
    leftOut = 0;
    cutShort = 0;
    // Only a dealer that had voices can have free ones.
    if (!voices.empty()) {
        for (std::vector<std::uint32_t>& heap : moreFree_) {
            heap.clear();
        }
        free_.clear();
    }
    voices.clear();
}

void Dealer::release(std::uint32_t v, std::uint64_t tick) {
    voices[v].note = kLeftOut;
    voices[v].lastEnd = tick;
    const std::uint8_t key = voices[v].key;
    if (!free_.has(key)) {
        free_.add(key);
        lowestFree_[key] = v;
        return;
    }
    if (v < lowestFree_[key]) {
        std::swap(v, lowestFree_[key]);
    }
    moreFree_.resize(256);
    std::vector<std::uint32_t>& heap = moreFree_[key];
    heap.push_back(v);
    std::push_heap(heap.begin(), heap.end(), std::greater<>());
}

std::uint32_t Dealer::place(std::uint32_t note, std::uint8_t key, std::uint64_t tick,
                            LargeVector<std::uint32_t>& voiceOf, std::vector<Cut>& cuts,
                            std::uint8_t channel) {
    std::uint32_t v = takeNearestFree(key);
    if (v == kLeftOut && (limit == 0 || voices.size() < limit)) {
        v = static_cast<std::uint32_t>(voices.size());
        voices.emplace_back();
    }
    if (v == kLeftOut) {
        v = yieldingVoice(key);
        if (v == kLeftOut) {
            ++leftOut;
            return kLeftOut;
        }
        Voice& victim = voices[v];
        if (victim.start == tick) {
            voiceOf[victim.note] = kLeftOut;
            --victim.notes;
            ++leftOut;
        } else {
            cuts.push_back({tick, victim.note, channel, victim.key});
            ++cutShort;
            victim.lastEnd = tick;
        }
    }
    voices[v].note = note;
    voices[v].key = key;
    voices[v].start = tick;
    voices[v].acrossTempo = false;
    ++voices[v].notes;
    return v;
}

// With every voice busy: the voice of the highest note when `key` is above
// all, of the lowest when below all and that note is not also the highest
// (a single voice keeps the upper line); kLeftOut otherwise.
std::uint32_t Dealer::yieldingVoice(std::uint8_t key) const {
    std::uint32_t top = 0;
    std::uint32_t bottom = 0;
    for (std::uint32_t v = 1; v < voices.size(); ++v) {
        top = voices[v].key > voices[top].key ? v : top;
        bottom = voices[v].key < voices[bottom].key ? v : bottom;
    }
    if (key > voices[top].key) {
        return top;
    }
    return key < voices[bottom].key && voices.size() > 1 ? bottom : kLeftOut;
}

std::uint32_t Dealer::takeNearestFree(std::uint8_t key) {
    const int up = free_.firstFrom(key);
    const int down = free_.lastUpTo(key);
    if (up < 0 && down < 0) {
        return kLeftOut;
    }
    int chosen = up < 0 ? down : up;
    if (up >= 0 && down >= 0 && up != down) {
        const int above = up - key;
        const int below = key - down;
        if (below < above || (below == above && lowestFree_[static_cast<std::size_t>(down)] <
                                                    lowestFree_[static_cast<std::size_t>(up)])) {
            chosen = down;
        }
    }
    const auto slot = static_cast<std::size_t>(chosen);
    const std::uint32_t v = lowestFree_[slot];
    if (moreFree_.empty() || moreFree_[slot].empty()) {
        free_.remove(chosen);
    } else {
        std::vector<std::uint32_t>& heap = moreFree_[slot];
        std::pop_heap(heap.begin(), heap.end(), std::greater<>());
        lowestFree_[slot] = heap.back();
        heap.pop_back();
    }
    return v;
}

}  // namespace mid2nolt
