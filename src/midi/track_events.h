#pragma once

#include <cstdint>

#include "midi/midi_facts.h"

namespace mid2nolt {

enum class EventKind : std::uint8_t {
    NoteOff,       // 0x8n
    NoteOn,        // 0x9n, any velocity
    OtherChannel,  // 0xAn to 0xEn
    SystemExclusive,
    Meta,        // any meta type but end of track
    EndOfTrack,  // FF 2F; its length is never read
    System,      // 0xF1 to 0xF6, 0xF8 to 0xFE: no data
    StrayData,   // a data byte in status position with no running status: dropped
};

struct TrackEvent {
    EventKind kind = EventKind::System;
    // For channel events, the status in force (running status applied); for
    // sysex and system messages, their status byte.
    std::uint8_t status = 0;
    std::uint8_t data1 = 0;
    std::uint8_t data2 = 0;
    std::uint8_t metaType = 0;
    // Sysex and metas: the data bytes after the length, cut at the end of the
    // chunk when the length runs past it.
    const std::uint8_t* data = nullptr;
    std::uint32_t dataLength = 0;
    // Text-type metas (0x01 to 0x07): the text, wholly within the chunk.
    const std::uint8_t* text = nullptr;
    std::uint32_t textLength = 0;
    // Set tempo (0x51): microseconds per quarter note from the first three data bytes.
    std::uint32_t tempo = 0;
    // Time signature (0x58): numerator and denominator exponent.
    std::uint8_t numerator = 0;
    std::uint8_t exponent = 0;
};

// Whether an event starts a note (a note-on of velocity above 0) or ends one
// (a note-off, or a note-on of velocity 0).
inline bool startsNote(const TrackEvent& event) {
    return event.kind == EventKind::NoteOn && event.data2 != 0;
}
inline bool endsNote(const TrackEvent& event) {
    return event.kind == EventKind::NoteOff ||
           (event.kind == EventKind::NoteOn && event.data2 == 0);
}

// Steps through the bytes of one track chunk, event by event. The script walk
// and the channel scan both use it, so they always step alike.
//
// It never reads at or beyond `length`. An event cut off by the end of the
// chunk (a delta time, status, data, type or length byte missing; a text
// longer than the bytes left; a tempo with fewer than 3 bytes or a time
// signature with fewer than 2 bytes after its length) is not delivered: the
// read fails and the reader stays at the end. A skip over sysex or meta data
// that would pass the end stops at the end.
//
// Running status: a status byte 0x80 to 0xEF becomes the running status and
// nothing else changes it (metas, sysex and system messages leave it alone).
// A data byte in status position is then the first data byte of an event with
// that status; with no running status yet it is dropped on its own.
class TrackEventReader {
public:
    TrackEventReader(const std::uint8_t* data, std::uint32_t length)
        : data_(data), length_(length) {}

    // Decodes a delta time, in 64 bits. False at the end of the chunk or when
    // the quantity runs past it.
    bool readDelta(std::uint64_t& delta) { return readQuantity(delta); }

    // Reads the event that follows a delta time. False when it is cut off.
    // Channel events, by far the most common, are read inline.
    bool readEvent(TrackEvent& event) {
        if (position_ >= length_) {
            return false;
        }
        std::uint8_t status = data_[position_++];
        if (status >= 0xF0) {
            return readSystemEvent(status, event);
        }
        bool haveFirst = false;
        std::uint8_t first = 0;
        if (status < 0x80) {
            if (runningStatus_ == 0) {
                event.kind = EventKind::StrayData;
                return true;
            }
            first = status;
            haveFirst = true;
            status = runningStatus_;
        } else {
            runningStatus_ = status;
        }
        const std::uint32_t count = dataBytes(status);
        if (bytesLeft() < count - (haveFirst ? 1 : 0)) {
            return cutOff();
        }
        event.status = status;
        event.data1 = haveFirst ? first : data_[position_++];
        event.data2 = count == 2 ? data_[position_++] : 0;
        switch (status >> 4) {
            case 0x8: event.kind = EventKind::NoteOff; break;
            case 0x9: event.kind = EventKind::NoteOn; break;
            default: event.kind = EventKind::OtherChannel; break;
        }
        return true;
    }

    std::uint32_t position() const { return position_; }

private:
    // A variable-length quantity: 7 bits a byte, most significant group first,
    // every byte but the last with its top bit set. Any number of bytes is
    // taken; bits shifted past the width of T are lost.
    template <typename T>
    bool readQuantity(T& value) {
        T result = 0;
        std::uint8_t byte = 0;
        do {
            if (position_ >= length_) {
                return false;
            }
            byte = data_[position_++];
            result = static_cast<T>(result << 7) | (byte & 0x7Fu);
        } while (byte & 0x80u);
        value = result;
        return true;
    }
    // Sysex and meta lengths, in 32 bits.
    bool readLength(std::uint32_t& value) { return readQuantity(value); }
    std::uint32_t bytesLeft() const { return length_ - position_; }
    bool cutOff() {
        position_ = length_;
        return false;
    }
    void skip(std::uint32_t count) {
        position_ = count > bytesLeft() ? length_ : position_ + count;
    }
    bool readSystemEvent(std::uint8_t status, TrackEvent& event);
    bool readMeta(TrackEvent& event);

    const std::uint8_t* data_;
    std::uint32_t length_;
    std::uint32_t position_ = 0;
    std::uint8_t runningStatus_ = 0;
};

}  // namespace mid2nolt
