#include "midi/track_events.h"

namespace mid2nolt {

// System exclusive, meta and other system messages: none of them changes the
// running status.
bool TrackEventReader::readSystemEvent(std::uint8_t status, TrackEvent& event) {
    if (status == 0xF0 || status == 0xF7) {
        std::uint32_t length = 0;
        if (!readLength(length)) {
            return cutOff();
        }
        event.data = data_ + position_;
        event.dataLength = length > bytesLeft() ? bytesLeft() : length;
        skip(length);
        event.status = status;
        event.kind = EventKind::SystemExclusive;
        return true;
    }
    if (status == 0xFF) {
        return readMeta(event);
    }
    event.status = status;
    event.kind = EventKind::System;
    return true;
}

bool TrackEventReader::readMeta(TrackEvent& event) {
    if (position_ >= length_) {
        return cutOff();
    }
    event.metaType = data_[position_++];
    if (event.metaType == kEndOfTrackMeta) {
        event.kind = EventKind::EndOfTrack;
        return true;
    }
    std::uint32_t length = 0;
    if (!readLength(length)) {
        return cutOff();
    }
    event.kind = EventKind::Meta;
    event.text = nullptr;
    event.textLength = 0;
    const std::uint8_t* at = data_ + position_;
    event.data = at;
    event.dataLength = length > bytesLeft() ? bytesLeft() : length;
    if (isTextMeta(event.metaType)) {
        if (length > bytesLeft()) {
            return cutOff();
        }
        event.text = at;
        event.textLength = length;
    } else if (event.metaType == kTempoMeta) {
        // The three tempo bytes are read whatever the length says.
        if (bytesLeft() < 3) {
            return cutOff();
        }
        event.tempo = std::uint32_t{at[0]} << 16 | std::uint32_t{at[1]} << 8 | at[2];
    } else if (event.metaType == kTimeSignatureMeta) {
        if (bytesLeft() < 2) {
            return cutOff();
        }
        event.numerator = at[0];
        event.exponent = at[1];
    }
    skip(length);
    return true;
}

}  // namespace mid2nolt
