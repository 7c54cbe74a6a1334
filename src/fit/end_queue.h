// The ends of the notes that sound, for a sweep in time order.
#pragma once

#include <array>
#include <bit>
#include <cstdint>
#include <limits>
#include <vector>

namespace mid2nolt::fit {

// The values by their `end`, the first on top, where no value pushed ends
// before the last one popped (a sweep in time order lets go what ends, then
// adds notes that end later). A radix heap: each value sits in the bucket of
// the highest bit where its end differs from the last end popped, and moves
// down only when its bucket is the first left; hundreds of notes can sound
// at once, and a binary heap of them spent its time moving them about.
template <typename Value>
class EndQueue {
public:
    bool empty() const { return size_ == 0; }
    std::size_t size() const { return size_; }

    // The first end, or `none` where the queue is empty.
    std::uint64_t firstEnd(std::uint64_t none) const {
        if (size_ == 0) {
            return none;
        }
        if (!buckets_[0].empty()) {
            return last_;
        }
        if (!cached_) {
            first_ = std::numeric_limits<std::uint64_t>::max();
            for (const Value& value : buckets_[firstFull()]) {
                first_ = std::min(first_, value.end);
            }
            cached_ = true;
        }
        return first_;
    }
    void push(const Value& value) {
        buckets_[bucketOf(value.end)].push_back(value);
        if (cached_) {
            first_ = std::min(first_, value.end);
        }
        ++size_;
    }
    // Takes a value of the first end; the queue must not be empty.
    Value pop() {
        if (buckets_[0].empty()) {
            std::vector<Value>& full = buckets_[firstFull()];
            last_ = firstEnd(0);
            for (const Value& value : full) {
                buckets_[bucketOf(value.end)].push_back(value);
            }
            full.clear();
        }
        cached_ = false;
        const Value value = buckets_[0].back();
        buckets_[0].pop_back();
        --size_;
        return value;
    }

private:
    std::size_t bucketOf(std::uint64_t end) const {
        return end == last_ ? 0 : 64 - static_cast<std::size_t>(std::countl_zero(end ^ last_));
    }
    std::size_t firstFull() const {
        std::size_t b = 1;
        while (buckets_[b].empty()) {
            ++b;
        }
        return b;
    }

    std::array<std::vector<Value>, 65> buckets_;
    std::uint64_t last_ = 0;  // the end last popped
    std::size_t size_ = 0;
    mutable std::uint64_t first_ = 0;  // the first end, where cached
    mutable bool cached_ = false;
};

}  // namespace mid2nolt::fit
