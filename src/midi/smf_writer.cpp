#include "midi/smf_writer.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <limits>

namespace mid2nolt {

void TrackWriter::grow(std::size_t capacity) {
    // Left as it comes, not zeroed.
    std::unique_ptr<std::uint8_t[], LargeRelease> buffer(
        static_cast<std::uint8_t*>(allocateLarge(capacity)), LargeRelease{capacity});
    if (used_ > 0) {
        std::memcpy(buffer.get(), buffer_.get(), used_);
    }
    buffer_ = std::move(buffer);
    capacity_ = capacity;
}

void TrackWriter::quantity(std::uint64_t value) {
    used_ = static_cast<std::size_t>(writeQuantity(value, room(kMaxQuantityBytes)) - buffer_.get());
}

void TrackWriter::put(const std::uint8_t* data, std::size_t count) {
    if (count > 0) {
        std::memcpy(room(count), data, count);
        used_ += count;
    }
}

void TrackWriter::delta(std::uint64_t tick) {
    quantity(tick - lastTick_);
    lastTick_ = tick;
}

void TrackWriter::meta(std::uint64_t tick, std::uint8_t type, const std::uint8_t* data,
                       std::uint32_t length) {
    delta(tick);
    const std::uint8_t head[2] = {0xFF, type};
    put(head, 2);
    quantity(length);
    put(data, length);
}

void TrackWriter::sysex(std::uint64_t tick, std::uint8_t status, const std::uint8_t* data,
                        std::uint32_t length) {
    delta(tick);
    put(&status, 1);
    quantity(length);
    put(data, length);
}

// At no delta from the event before it, the tempo leaves every later delta as
// it was.
void TrackWriter::insertTempo(std::size_t at, std::uint32_t tempo) {
    const std::uint8_t event[] = {0x00,
                                  0xFF,
                                  kTempoMeta,
                                  0x03,
                                  static_cast<std::uint8_t>(tempo >> 16),
                                  static_cast<std::uint8_t>(tempo >> 8),
                                  static_cast<std::uint8_t>(tempo)};
    room(sizeof event);
    std::memmove(buffer_.get() + at + sizeof event, buffer_.get() + at, used_ - at);
    std::memcpy(buffer_.get() + at, event, sizeof event);
    used_ += sizeof event;
}

void TrackWriter::system(std::uint64_t tick, std::uint8_t status) {
    delta(tick);
    put(&status, 1);
}

void TrackWriter::end(std::uint64_t tick) {
    delta(tick);
    const std::uint8_t end[3] = {0xFF, 0x2F, 0x00};
    put(end, 3);
}

namespace {

void put16(std::uint8_t* at, std::uint32_t value) {
    at[0] = static_cast<std::uint8_t>(value >> 8);
    at[1] = static_cast<std::uint8_t>(value);
}

void put32(std::uint8_t* at, std::uint32_t value) {
    put16(at, value >> 16);
    put16(at + 2, value & 0xFFFFu);
}

}  // namespace

bool writeSmfHeader(std::FILE* out, std::uint16_t format, std::uint16_t trackCount,
                    std::uint16_t division) {
    std::uint8_t header[14] = {'M', 'T', 'h', 'd', 0, 0, 0, 6};
    put16(header + 8, format);
    put16(header + 10, trackCount);
    put16(header + 12, division);
    return std::fwrite(header, 1, sizeof header, out) == sizeof header;
}

bool writeSmfTrack(std::FILE* out, std::span<const std::uint8_t> track) {
    if (track.size() > std::numeric_limits<std::uint32_t>::max()) {
        return false;
    }
    std::uint8_t chunk[8] = {'M', 'T', 'r', 'k'};
    put32(chunk + 4, static_cast<std::uint32_t>(track.size()));
    return std::fwrite(chunk, 1, sizeof chunk, out) == sizeof chunk &&
           (track.empty() || std::fwrite(track.data(), 1, track.size(), out) == track.size());
}

bool writeSmf(std::FILE* out, std::uint16_t format, std::uint16_t division,
              const std::vector<Bytes>& tracks) {
    if (tracks.size() > std::numeric_limits<std::uint16_t>::max() ||
        !writeSmfHeader(out, format, static_cast<std::uint16_t>(tracks.size()), division)) {
        return false;
    }
    for (const Bytes& track : tracks) {
        if (!writeSmfTrack(out, track)) {
            return false;
        }
    }
    return true;
}

}  // namespace mid2nolt
