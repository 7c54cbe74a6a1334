// The notes of a harmony lane's share that sound at once, as its arpeggio
// plays them.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <limits>
#include <vector>

#include "fit/end_queue.h"
#include "midi/key_set.h"

namespace mid2nolt::fit {

// No tick: past every end and turn.
constexpr std::uint64_t kNever = std::numeric_limits<std::uint64_t>::max();

// A note of a lane's share: a source note, or what a line cut short of one.
struct Share {
    std::uint64_t start = 0;
    std::uint64_t end = 0;
    std::uint32_t id = 0;  // the item, or items.size() + the remainder
    std::uint32_t part = 0;
    std::uint8_t key = 0;
    std::uint8_t velocity = 0;
    std::uint8_t lane = 0;
};

// The notes of a lane's share that sound, by key, each key's in the order
// they came; with their ends in order. A note that ends is let go from its
// key's list lazily (marked, and dropped once it is the first or once the
// marked are half the list): hundreds of one key may sound at once.
class Chord {
public:
    std::size_t size() const { return size_; }
    bool empty() const { return size_ == 0; }
    std::uint64_t nextEnd() const { return ends_.firstEnd(kNever); }
    void add(const Share& note) {
        Key& key = byKey_[note.key];
        if (key.live == 0) {
            keys_.add(note.key);
        }
        key.notes.push_back(note);
        ++key.live;
        if (note.id >= gone_.size()) {
            gone_.resize(std::max<std::size_t>(note.id + 1, gone_.size() * 2), false);
        }
        gone_[note.id] = false;
        ends_.push({note.end, note.id, note.key});
        ++size_;
    }
    // Lets go the notes that end at `end`, the first to end.
    void removeEnding(std::uint64_t end) {
        while (ends_.firstEnd(kNever) == end) {
            const Ending ending = ends_.pop();
            gone_[ending.id] = true;
            Key& key = byKey_[ending.key];
            if (--key.live == 0) {
                key.notes.clear();
                key.first = 0;
                keys_.remove(ending.key);
            } else {
                dropGone(key);
            }
            --size_;
        }
    }
    // The first note of the lowest key.
    const Share& lowest() const { return above(-1); }
    // The first note of the next key above `key`, or the lowest.
    const Share& above(int key) const {
        const int next = keys_.firstFrom(key + 1);
        const Key& found = byKey_[static_cast<std::size_t>(next >= 0 ? next : keys_.lowest())];
        return found.notes[found.first];
    }

private:
    struct Ending {
        std::uint64_t end;
        std::uint32_t id;
        std::uint8_t key;
    };
    // A key's notes from `first` on, some of them let go; `live` are not.
    struct Key {
        std::vector<Share> notes;
        std::size_t first = 0;
        std::size_t live = 0;
    };
    // Keeps the key's first note one that sounds, and its list at most
    // twice what sounds.
    void dropGone(Key& key) {
        while (gone_[key.notes[key.first].id]) {
            ++key.first;
        }
        if (key.notes.size() - key.first > 2 * key.live + 16) {
            std::erase_if(key.notes, [&](const Share& note) { return gone_[note.id]; });
            key.first = 0;
        }
    }
    std::array<Key, KeySet::kKeys> byKey_;
    KeySet keys_;
    std::vector<bool> gone_;  // by id
    EndQueue<Ending> ends_;
    std::size_t size_ = 0;
};

}  // namespace mid2nolt::fit
