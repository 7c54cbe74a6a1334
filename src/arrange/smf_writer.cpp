#include "arrange/smf_writer.h"

#include <limits>

namespace mid2nolt {

void TrackWriter::quantity(std::uint64_t value) {
    std::uint8_t groups[10];
    int count = 0;
    do {
        groups[count++] = static_cast<std::uint8_t>(value & 0x7Fu);
        value >>= 7;
    } while (value != 0);
    while (count > 1) {
        bytes_.push_back(static_cast<std::uint8_t>(groups[--count] | 0x80u));
    }
    bytes_.push_back(groups[0]);
}

void TrackWriter::delta(std::uint64_t tick) {
    quantity(tick - lastTick_);
    lastTick_ = tick;
}

void TrackWriter::channel(std::uint64_t tick, std::uint8_t status, std::uint8_t data1,
                          std::uint8_t data2) {
    delta(tick);
    bytes_.push_back(status);
    bytes_.push_back(data1);
    if ((status & 0xE0u) != 0xC0u) {
        bytes_.push_back(data2);
    }
}

void TrackWriter::meta(std::uint64_t tick, std::uint8_t type, const std::uint8_t* data,
                       std::uint32_t length) {
    delta(tick);
    bytes_.push_back(0xFF);
    bytes_.push_back(type);
    quantity(length);
    bytes_.insert(bytes_.end(), data, data + length);
}

void TrackWriter::sysex(std::uint64_t tick, std::uint8_t status, const std::uint8_t* data,
                        std::uint32_t length) {
    delta(tick);
    bytes_.push_back(status);
    quantity(length);
    bytes_.insert(bytes_.end(), data, data + length);
}

void TrackWriter::system(std::uint64_t tick, std::uint8_t status) {
    delta(tick);
    bytes_.push_back(status);
}

void TrackWriter::end(std::uint64_t tick) {
    delta(tick);
    bytes_.insert(bytes_.end(), {0xFF, 0x2F, 0x00});
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

bool writeSmf(std::FILE* out, std::uint16_t format, std::uint16_t division,
              const std::vector<Bytes>& tracks) {
    if (tracks.size() > std::numeric_limits<std::uint16_t>::max()) {
        return false;
    }
    std::uint8_t header[14] = {'M', 'T', 'h', 'd', 0, 0, 0, 6};
    put16(header + 8, format);
    put16(header + 10, static_cast<std::uint32_t>(tracks.size()));
    put16(header + 12, division);
    if (std::fwrite(header, 1, sizeof header, out) != sizeof header) {
        return false;
    }
    for (const Bytes& track : tracks) {
        if (track.size() > std::numeric_limits<std::uint32_t>::max()) {
            return false;
        }
        std::uint8_t chunk[8] = {'M', 'T', 'r', 'k'};
        put32(chunk + 4, static_cast<std::uint32_t>(track.size()));
        if (std::fwrite(chunk, 1, sizeof chunk, out) != sizeof chunk ||
            (!track.empty() && std::fwrite(track.data(), 1, track.size(), out) != track.size())) {
            return false;
        }
    }
    return true;
}

}  // namespace mid2nolt
