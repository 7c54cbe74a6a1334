#pragma once

#include <cstdint>
#include <cstdio>
#include <vector>

namespace mid2nolt {

using Bytes = std::vector<std::uint8_t>;

// Writes the events of one track chunk from absolute ticks: each event's delta
// time is its tick less the previous event's, as a variable-length quantity of
// up to 64 bits. Every status byte is written (no running status), so events
// can be put together from any number of sources.
class TrackWriter {
public:
    // A channel event: status and one or two data bytes, as its status asks.
    void channel(std::uint64_t tick, std::uint8_t status, std::uint8_t data1, std::uint8_t data2);
    // A meta event of `type` with its data.
    void meta(std::uint64_t tick, std::uint8_t type, const std::uint8_t* data, std::uint32_t length);
    // A system exclusive message (status 0xF0 or 0xF7) with its data.
    void sysex(std::uint64_t tick, std::uint8_t status, const std::uint8_t* data,
               std::uint32_t length);
    // A one-byte system message (0xF1 to 0xFE).
    void system(std::uint64_t tick, std::uint8_t status);
    // End of track; the chunk is complete after it.
    void end(std::uint64_t tick);

    std::uint64_t lastTick() const { return lastTick_; }
    const Bytes& bytes() const { return bytes_; }
    Bytes take() { return std::move(bytes_); }

private:
    void delta(std::uint64_t tick);
    void quantity(std::uint64_t value);

    Bytes bytes_;
    std::uint64_t lastTick_ = 0;
};

// Writes a whole Standard MIDI File to `out`: the header chunk, then one track
// chunk per entry (at most 65535). False when a write fails or a track is
// longer than a chunk's 32-bit length can say.
bool writeSmf(std::FILE* out, std::uint16_t format, std::uint16_t division,
              const std::vector<Bytes>& tracks);

}  // namespace mid2nolt
