// The notes as the fit holds them: read from a song, and in the orders its
// steps take them.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "fit/channel_fit.h"
#include "midi/large_pages.h"
#include "midi/song.h"
#include "midi/timed_reader.h"

namespace mid2nolt::fit {

// A lane's number in an item: channels are at most 255, numbered from 0.
constexpr std::uint8_t kNoItemLane = 0xFF;

// A note as the fit takes it. Millions are held at once: where the song's
// ticks fit in 32 bits (as good as every song) an item takes 16 bytes, else 24.
template <typename Tick>
struct BasicItem {
    Tick start;
    Tick end;  // where its channel ends it: as in the source, or earlier when cut
    std::uint32_t part;
    std::uint8_t key;
    std::uint8_t velocity;
    std::uint8_t lane = kNoItemLane;
    bool drum : 1;
    bool line : 1 = false;     // a note of the melody, bass or drum line
    bool cut : 1 = false;      // ended earlier than in the source
    bool doubled : 1 = false;  // its pitch class sounds in the melody or bass where it starts

    // Where it frees its channel: every note the fit holds has a length, and
    // is cut only where a later note starts.
    std::uint64_t frees() const { return end; }
    void cutAt(Tick tick) {
        if (tick < end) {
            end = tick;
            cut = true;
        }
    }
};
static_assert(sizeof(BasicItem<std::uint32_t>) == 16);
static_assert(sizeof(BasicItem<std::uint64_t>) == 24);

template <typename Tick>
using Items = LargeVector<BasicItem<Tick>>;
using Order = LargeVector<std::uint32_t>;  // notes by their number in Items

// In a sweep of `order` at `at`, asks for the item the sweep reaches some
// places later: the items lie in another order, and a sweep that waited on
// each in turn would spend most of its time waiting.
template <typename Tick>
inline void fetchAhead(const Items<Tick>& items, const Order& order, std::size_t at) {
    constexpr std::size_t kAhead = 16;
    if (at + kAhead < order.size()) {
        __builtin_prefetch(&items[order[at + kAhead]]);
    }
}

// How a reading of the notes ended.
enum class ReadEnd : std::uint8_t {
    Read,        // every note read
    WiderTicks,  // a tick does not fit in a Tick: read afresh with wider ticks
    TooLong,     // the ticks of a track run past 64 bits
};

// The notes of every track that have a length, paired as every part that
// reads notes pairs them, each with its part (track and channel, numbered in
// that order, in `fit.parts`); every note counted in `fit.notes`; in `lead`,
// the tracks whose name or instrument says they carry the tune; in
// `fit.rest`, the other events with their data, so that the song is read once
// and then let go: where it ends Read, `song` is let go. Else `track` is the
// track it stopped at, and what was read is to be let go. With many notes, a
// second thread reads the later tracks.
template <typename Tick>
ReadEnd readNotes(std::unique_ptr<Song>& song, ChannelFit& fit, std::vector<bool>& lead,
                  Items<Tick>& items, std::uint32_t& track);

// The notes in the order they start (`byStart`), and in the order they free a
// channel as they are, none cut yet (`byEnd`); in the song's order on a tie.
template <typename Tick>
void sortNotes(const Items<Tick>& items, Order& byStart, Order& byEnd);

}  // namespace mid2nolt::fit
