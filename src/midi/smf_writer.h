#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <span>
#include <vector>

#include "midi/large_pages.h"
#include "midi/midi_facts.h"

namespace mid2nolt {

using Bytes = std::vector<std::uint8_t>;

// Writes the events of one track chunk from absolute ticks: each event's delta
// time is its tick less the previous event's, as a variable-length quantity of
// up to 64 bits. Every status byte is written (no running status), so events
// can be put together from any number of sources.
class TrackWriter {
public:
    // A channel event: status and one or two data bytes, as its status asks.
    // Inline, as most events are channel events and most of their deltas take
    // one or two bytes.
    void channel(std::uint64_t tick, std::uint8_t status, std::uint8_t data1, std::uint8_t data2) {
        // The delta and the event, in one step.
        std::uint8_t* at = writeQuantity(tick - lastTick_, room(kMaxQuantityBytes + 3));
        at[0] = status;
        at[1] = data1;
        at[2] = data2;
        used_ = static_cast<std::size_t>(at - buffer_.get()) + 1 + dataBytes(status);
        lastTick_ = tick;
    }
    // A meta event of `type` with its data.
    void meta(std::uint64_t tick, std::uint8_t type, const std::uint8_t* data,
              std::uint32_t length);
    // A system exclusive message (status 0xF0 or 0xF7) with its data.
    void sysex(std::uint64_t tick, std::uint8_t status, const std::uint8_t* data,
               std::uint32_t length);
    // Where the next event goes: a place to put a tempo later (insertTempo),
    // once what it times has passed. The event before it must be at the
    // tick the tempo is for.
    std::size_t here() const { return used_; }
    void insertTempo(std::size_t at, std::uint32_t tempo);
    // A one-byte system message (0xF1 to 0xFE).
    void system(std::uint64_t tick, std::uint8_t status);
    // End of track; the chunk is complete after it.
    void end(std::uint64_t tick);

    // Room for `bytes` in all, made at once rather than by doubling.
    void reserve(std::size_t bytes) {
        if (capacity_ < bytes) {
            grow(bytes);
        }
    }
    // Empty again, keeping the buffer.
    void clear() {
        used_ = 0;
        lastTick_ = 0;
    }
    std::uint64_t lastTick() const { return lastTick_; }
    std::span<const std::uint8_t> bytes() const { return {buffer_.get(), used_}; }

private:
    // Room for `count` more bytes; returns where they go.
    std::uint8_t* room(std::size_t count) {
        if (capacity_ - used_ < count) {
            grow(std::max({capacity_ * 2, used_ + count, std::size_t{256}}));
        }
        return buffer_.get() + used_;
    }
    void grow(std::size_t capacity);  // to `capacity` bytes, keeping those written
    void delta(std::uint64_t tick);
    void quantity(std::uint64_t value);
    void put(const std::uint8_t* data, std::size_t count);

    // Written bytes are the first used_ of the buffer, which grows by doubling;
    // the room past them is left as it comes, never zeroed: it is written
    // before it is read.
    std::unique_ptr<std::uint8_t[], LargeRelease> buffer_;
    std::size_t capacity_ = 0;
    std::size_t used_ = 0;
    std::uint64_t lastTick_ = 0;
};

// A Standard MIDI File written to `out` piece by piece: the header chunk,
// then each track chunk. False when a write fails or a track is longer than a
// chunk's 32-bit length can say.
bool writeSmfHeader(std::FILE* out, std::uint16_t format, std::uint16_t trackCount,
                    std::uint16_t division);
bool writeSmfTrack(std::FILE* out, std::span<const std::uint8_t> track);
// A whole file at once (at most 65535 tracks).
bool writeSmf(std::FILE* out, std::uint16_t format, std::uint16_t division,
              const std::vector<Bytes>& tracks);

}  // namespace mid2nolt
