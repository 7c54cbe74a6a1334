#include "fit/end_queue.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <queue>
#include <random>
#include <vector>

namespace {

struct Value {
    std::uint64_t end;
};

// A sweep in time order against a binary heap: notes that start at the time
// reached end later, by a little or by far (ends past 2^32 and up to 2^64 - 1
// move down through many buckets), and what ends by the time is let go.
TEST(EndQueue, LetsGoTheEndsInOrderAsAHeapDoes) {
    std::mt19937_64 random(7);
    mid2nolt::fit::EndQueue<Value> queue;
    std::priority_queue<std::uint64_t, std::vector<std::uint64_t>, std::greater<>> heap;
    std::uint64_t now = 0;
    for (int step = 0; step < 20000; ++step) {
        const std::uint64_t length = step % 97 == 0   ? ~std::uint64_t{0} - now
                                     : step % 13 == 0 ? random() >> 20
                                                      : 1 + random() % 50;
        queue.push({now + length});
        heap.push(now + length);
        now += random() % 40;
        while (!heap.empty() && heap.top() <= now) {
            ASSERT_EQ(queue.firstEnd(0), heap.top());
            ASSERT_EQ(queue.pop().end, heap.top());
            heap.pop();
        }
        ASSERT_EQ(queue.size(), heap.size());
        ASSERT_EQ(queue.firstEnd(0), heap.empty() ? 0 : heap.top());
    }
}

}  // namespace
