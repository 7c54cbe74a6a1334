// What every part that reads or writes MIDI agrees on: meta types, the
// defaults a track starts with, the shape of a channel message and the
// variable-length quantity.
#pragma once

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>

namespace mid2nolt {

constexpr std::uint8_t kTrackNameMeta = 0x03;
constexpr std::uint8_t kInstrumentNameMeta = 0x04;
constexpr std::uint8_t kEndOfTrackMeta = 0x2F;
constexpr std::uint8_t kTempoMeta = 0x51;
constexpr std::uint8_t kTimeSignatureMeta = 0x58;

// The seven text-type metas (text, copyright, name, instrument, lyric, marker,
// cue point) are all handled alike.
constexpr bool isTextMeta(std::uint8_t type) {
    return type >= 0x01 && type <= 0x07;
}

// Until a track says otherwise: 120 quarter notes a minute, in 4/4.
constexpr std::uint32_t kDefaultTempo = 500000;  // microseconds a quarter note
constexpr std::uint32_t kMaxTempo = 0xFFFFFF;    // what three bytes hold
constexpr std::uint8_t kDefaultBeatsPerBar = 4;
constexpr std::uint8_t kDefaultBeatUnit = 4;  // a quarter note
// The same as meta data: the tempo in three bytes, and the time signature
// (numerator, the unit as a power of 2, 24 clocks a click, 8 thirty-seconds a
// quarter note).
constexpr std::uint8_t kDefaultTempoBytes[] = {kDefaultTempo >> 16, (kDefaultTempo >> 8) & 0xFF,
                                               kDefaultTempo & 0xFF};
constexpr std::uint8_t kDefaultTimeSignatureBytes[] = {
    kDefaultBeatsPerBar, static_cast<std::uint8_t>(std::countr_zero(kDefaultBeatUnit)), 0x18, 0x08};
// General MIDI's percussion channel: the tenth, numbered from 0.
constexpr std::uint8_t kDrumChannel = 9;

// A header's division: with its top bit clear, ticks a quarter note; set,
// SMPTE frames a second and ticks a frame, which no tempo applies to.
struct Division {
    std::uint16_t raw = 0;
    constexpr bool smpte() const { return (raw & 0x8000u) != 0; }
    // Ticks a quarter note, at least one: the ticks can be timed in seconds.
    constexpr bool perQuarter() const { return raw != 0 && !smpte(); }
    // Where the ticks are SMPTE frames: ticks a second, the frames a second
    // (the negated high byte) times the ticks a frame.
    constexpr std::uint64_t smpteTicksPerSecond() const {
        return static_cast<std::uint64_t>(-static_cast<std::int8_t>(raw >> 8)) * (raw & 0xFFu);
    }
    // The ticks of a beat, at least one: a quarter note, or where the ticks
    // are SMPTE frames half a second (a beat at 120 a minute).
    constexpr std::uint64_t beat() const {
        return std::max<std::uint64_t>(1, smpte() ? smpteTicksPerSecond() / 2 : raw);
    }
};

// The release velocity of a note ended by a note-on of velocity 0.
constexpr std::uint8_t kReleaseVelocity = 64;

// A channel message's status: its channel, and how many data bytes follow it
// (program change and channel pressure carry one, the others two).
constexpr std::uint8_t channelOf(std::uint8_t status) {
    return status & 0x0Fu;
}
constexpr std::uint32_t dataBytes(std::uint8_t status) {
    return (status & 0xE0u) == 0xC0u ? 1 : 2;
}
constexpr bool isNoteOnStatus(std::uint8_t status) {
    return (status & 0xF0u) == 0x90u;
}

// A variable-length quantity: 7 bits a byte, most significant group first,
// every byte but the last with its top bit set. Writes `value` at `out`
// (up to ten bytes) and returns the byte after it. Inline, with the one- and
// two-byte quantities that most deltas take first.
inline std::uint8_t* writeQuantity(std::uint64_t value, std::uint8_t* out) {
    if (value < 0x80u) {
        *out++ = static_cast<std::uint8_t>(value);
        return out;
    }
    if (value < 0x4000u) {
        out[0] = static_cast<std::uint8_t>(value >> 7 | 0x80u);
        out[1] = static_cast<std::uint8_t>(value & 0x7Fu);
        return out + 2;
    }
    const int count = (70 - std::countl_zero(value)) / 7;
    for (int i = count - 1; i > 0; --i) {
        *out++ = static_cast<std::uint8_t>((value >> (7 * i)) | 0x80u);
    }
    *out++ = static_cast<std::uint8_t>(value & 0x7Fu);
    return out;
}
constexpr std::size_t kMaxQuantityBytes = 10;

}  // namespace mid2nolt
