#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "fit/items.h"
#include "fit/together.h"

namespace mid2nolt::fit {

namespace {

// How a sort of the notes runs: a stable radix sort of their numbers, a
// pass for each digit place (of `bits` bits) where the keys differ. Each pass
// reads its input (the notes in the song's order, then the order so far) in
// `halves` halves, each on a thread of its own where there are two: the
// first half's notes of a digit go before the second's.
struct Radix {
    unsigned bits;
    std::size_t places;
    std::size_t values;  // of a digit
    std::uint64_t mask;
    std::size_t notes;
    std::size_t halves;  // 1 or 2
    std::size_t half;    // the first half's size

    std::size_t begin(std::size_t h) const { return h == 0 ? 0 : half; }
    std::size_t end(std::size_t h) const { return h + 1 == halves ? notes : half; }
    std::uint64_t digit(std::uint64_t key, std::size_t place) const {
        return (key >> (place * bits)) & mask;
    }
    // Runs `job(h)` for each half, at once where there are two.
    template <typename Job>
    void eachHalf(Job job) const {
        runTogether(
            halves > 1, [&] { job(0); },
            [&] {
                if (halves > 1) {
                    job(1);
                }
            });
    }
};

// The digits of one key of the notes: how many keys have each digit at each
// place, place after place; and of the first place, how many of the first
// half of the notes.
struct KeyDigits {
    std::vector<std::uint32_t> all;
    std::vector<std::uint32_t> firstHalf;
};

// The places a sort passes over: the first, and each other where the keys'
// digits differ.
std::vector<std::size_t> passesOf(const Radix& radix, const KeyDigits& digits) {
    std::vector<std::size_t> passes;
    for (std::size_t place = 0; place < radix.places; ++place) {
        const std::uint32_t* const count = digits.all.data() + place * radix.values;
        if (place == 0 ||
            std::find(count, count + radix.values, radix.notes) == count + radix.values) {
            passes.push_back(place);
        }
    }
    return passes;
}

// The notes by `key`, in the song's order on a tie, from the key's `digits`.
// `spare` is room for a pass, kept from sort to sort: fresh memory costs a
// fault per page.
template <typename Tick, typename Key>
Order sortedBy(const Items<Tick>& items, Key key, const Radix& radix, const KeyDigits& digits,
               Order& spare) {
    const std::size_t values = radix.values;
    const std::vector<std::size_t> passes = passesOf(radix, digits);
    // Where each half's next key of each digit goes.
    std::vector<std::uint32_t> at(radix.halves * values);
    // Per half read, the digits at the next place of the keys that land in
    // the first half of the order; summed, the first half's digits there.
    std::vector<std::uint32_t> landed(radix.halves * values);
    std::copy(digits.firstHalf.begin(), digits.firstHalf.end(), landed.begin());
    Order order(items.size());
    for (std::size_t k = 0; k < passes.size(); ++k) {
        const std::uint32_t* const all = digits.all.data() + passes[k] * values;
        std::uint32_t sum = 0;
        for (std::size_t d = 0; d < values; ++d) {
            at[d] = sum;
            if (radix.halves > 1) {
                at[values + d] = sum + landed[d];
            }
            sum += all[d];
        }
        const bool fromNotes = k == 0;
        const bool countNext = k + 1 < passes.size() && radix.halves > 1;
        const std::size_t nextPlace = countNext ? passes[k + 1] : 0;
        std::fill(landed.begin(), landed.end(), 0);
        if (!fromNotes) {
            spare.resize(items.size());
        }
        Order& to = fromNotes ? order : spare;
        const auto pass = [&](std::size_t h) {
            std::uint32_t* const place = at.data() + h * values;
            std::uint32_t* const first = landed.data() + h * values;
            for (std::size_t i = radix.begin(h); i < radix.end(h); ++i) {
                if (!fromNotes) {
                    fetchAhead(items, order, i);
                }
                const auto n = fromNotes ? static_cast<std::uint32_t>(i) : order[i];
                const std::uint64_t value = key(items[n]);
                const std::uint32_t pos = place[radix.digit(value, passes[k])]++;
                to[pos] = n;
                if (countNext) {
                    first[radix.digit(value, nextPlace)] += pos < radix.half ? 1 : 0;
                }
            }
        };
        radix.eachHalf(pass);
        if (!fromNotes) {
            order.swap(spare);
        }
        for (std::size_t d = 0; countNext && d < values; ++d) {
            landed[d] += landed[values + d];
        }
    }
    return order;
}

// The digits of both keys (start and end), counted in one read of each half
// of the notes.
template <typename Tick>
std::array<KeyDigits, 2> digitsOf(const Items<Tick>& items, const Radix& radix) {
    const std::size_t size = radix.places * radix.values;
    std::array<KeyDigits, 2> digits;
    for (KeyDigits& key : digits) {
        key.all.assign(size, 0);
    }
    std::array<std::vector<std::uint32_t>, 2> second;
    for (std::vector<std::uint32_t>& key : second) {
        key.assign(radix.halves > 1 ? size : 0, 0);
    }
    const auto count = [&](std::size_t h) {
        std::uint32_t* const starts = (h == 0 ? digits[0].all : second[0]).data();
        std::uint32_t* const ends = (h == 0 ? digits[1].all : second[1]).data();
        for (std::size_t n = radix.begin(h); n < radix.end(h); ++n) {
            for (std::size_t place = 0; place < radix.places; ++place) {
                const std::size_t at = place * radix.values;
                ++starts[at + radix.digit(items[n].start, place)];
                ++ends[at + radix.digit(items[n].frees(), place)];
            }
        }
    };
    radix.eachHalf(count);
    for (std::size_t k = 0; k < 2; ++k) {
        digits[k].firstHalf.assign(
            digits[k].all.begin(),
            digits[k].all.begin() + static_cast<std::ptrdiff_t>(radix.values));
        for (std::size_t i = 0; i < second[k].size(); ++i) {
            digits[k].all[i] += second[k][i];
        }
    }
    return digits;
}

}  // namespace

template <typename Tick>
void sortNotes(const Items<Tick>& items, Order& byStart, Order& byEnd) {
    Radix radix{};
    // Digits of 16 bits for many notes and of 8 for fewer than 65,536 (as
    // most songs have), whose counts would otherwise cost more than the notes.
    radix.bits = items.size() < (std::size_t{1} << 16) ? 8 : 16;
    radix.places = sizeof(Tick) * 8 / radix.bits;
    radix.values = std::size_t{1} << radix.bits;
    radix.mask = radix.values - 1;
    radix.notes = items.size();
    radix.halves = items.size() >= kNotesWorthSharing && secondThread() ? 2 : 1;
    radix.half = radix.halves == 1 ? items.size() : items.size() / 2;
    std::array<KeyDigits, 2> digits = digitsOf(items, radix);
    Order spare;
    byStart = sortedBy(
        items, [](const BasicItem<Tick>& item) { return std::uint64_t{item.start}; }, radix,
        digits[0], spare);
    digits[0] = {};
    byEnd = sortedBy(
        items, [](const BasicItem<Tick>& item) { return item.frees(); }, radix, digits[1], spare);
}

template void sortNotes(const Items<std::uint32_t>&, Order&, Order&);
template void sortNotes(const Items<std::uint64_t>&, Order&, Order&);

}  // namespace mid2nolt::fit
