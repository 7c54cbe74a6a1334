#pragma once

// Builds Standard MIDI File bytes for tests, seeds and examples.

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

namespace smf {

using Bytes = std::vector<std::uint8_t>;

// A delta time or length as a variable-length quantity.
Bytes vlq(std::uint64_t value);

// The event bytes of one track chunk. Every event method takes its delta time first.
class Track {
public:
    Track& raw(std::initializer_list<int> values);
    Track& raw(const Bytes& values);
    Track& delta(std::uint64_t ticks);
    Track& noteOn(std::uint64_t dt, int channel, int key, int velocity);
    Track& noteOff(std::uint64_t dt, int channel, int key, int velocity = 64);
    // A channel event with the given status and data bytes.
    Track& event(std::uint64_t dt, int status, std::initializer_list<int> data);
    Track& meta(std::uint64_t dt, int type, const Bytes& data);
    Track& text(std::uint64_t dt, int type, std::string_view text);
    Track& tempo(std::uint64_t dt, std::uint32_t us);
    Track& timeSignature(std::uint64_t dt, int numerator, int exponent);
    Track& sysex(std::uint64_t dt, const Bytes& data);
    Track& end(std::uint64_t dt = 0);

    const Bytes& bytes() const { return bytes_; }

private:
    Bytes bytes_;
};

// The 14-byte header chunk (or longer, with `headerLength` above 6: zero-filled).
Bytes header(std::uint16_t format, std::uint16_t trackCount, std::uint16_t division,
             std::uint32_t headerLength = 6);
// A chunk with any tag and the length of its data (or a declared length).
Bytes chunk(std::string_view tag, const Bytes& data);
Bytes chunk(std::string_view tag, const Bytes& data, std::uint32_t declaredLength);
// A whole file whose header declares exactly the given tracks.
Bytes file(std::uint16_t format, std::uint16_t division, const std::vector<Track>& tracks);

Bytes operator+(Bytes a, const Bytes& b);

}  // namespace smf
