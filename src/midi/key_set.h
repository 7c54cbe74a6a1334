// A set of keys, a bit each, searched by the word. A key is a byte: a
// damaged file's can be past 127.
#pragma once

#include <array>
#include <bit>
#include <cstdint>

namespace mid2nolt {

class KeySet {
public:
    static constexpr int kKeys = 256;

    bool has(int key) const { return (words_[wordOf(key)] & bitOf(key)) != 0; }
    void add(int key) { words_[wordOf(key)] |= bitOf(key); }
    void remove(int key) { words_[wordOf(key)] &= ~bitOf(key); }
    void clear() { words_.fill(0); }
    int size() const {
        int count = 0;
        for (const std::uint64_t word : words_) {
            count += std::popcount(word);
        }
        return count;
    }

    // The lowest key of the set at or above `key` (0 to kKeys), or -1.
    int firstFrom(int key) const {
        for (int w = key / 64; w < kWords; ++w) {
            std::uint64_t bits = words_[static_cast<std::size_t>(w)];
            if (w == key / 64) {
                bits &= ~std::uint64_t{0} << (key % 64);
            }
            if (bits != 0) {
                return w * 64 + std::countr_zero(bits);
            }
        }
        return -1;
    }
    // The highest key of the set at or below `key` (0 to kKeys - 1), or -1.
    int lastUpTo(int key) const {
        for (int w = key / 64; w >= 0; --w) {
            std::uint64_t bits = words_[static_cast<std::size_t>(w)];
            if (w == key / 64 && key % 64 != 63) {
                bits &= (std::uint64_t{1} << (key % 64 + 1)) - 1;
            }
            if (bits != 0) {
                return w * 64 + 63 - std::countl_zero(bits);
            }
        }
        return -1;
    }
    int lowest() const { return firstFrom(0); }
    int highest() const { return lastUpTo(kKeys - 1); }

private:
    static constexpr int kWords = kKeys / 64;
    static std::size_t wordOf(int key) { return static_cast<std::size_t>(key / 64); }
    static std::uint64_t bitOf(int key) { return std::uint64_t{1} << (key % 64); }

    std::array<std::uint64_t, kWords> words_{};
};

}  // namespace mid2nolt
