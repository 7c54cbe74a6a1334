#include "support/smf_builder.h"

namespace smf {

Bytes vlq(std::uint64_t value) {
    Bytes groups{static_cast<std::uint8_t>(value & 0x7F)};
    while ((value >>= 7) != 0) {
        groups.insert(groups.begin(), static_cast<std::uint8_t>(0x80 | (value & 0x7F)));
    }
    return groups;
}

Track& Track::raw(std::initializer_list<int> values) {
    for (int v : values) {
        bytes_.push_back(static_cast<std::uint8_t>(v));
    }
    return *this;
}

Track& Track::raw(const Bytes& values) {
    bytes_.insert(bytes_.end(), values.begin(), values.end());
    return *this;
}

Track& Track::delta(std::uint64_t ticks) {
    return raw(vlq(ticks));
}

Track& Track::noteOn(std::uint64_t dt, int channel, int key, int velocity) {
    return event(dt, 0x90 | channel, {key, velocity});
}

Track& Track::noteOff(std::uint64_t dt, int channel, int key, int velocity) {
    return event(dt, 0x80 | channel, {key, velocity});
}

Track& Track::event(std::uint64_t dt, int status, std::initializer_list<int> data) {
    delta(dt);
    bytes_.push_back(static_cast<std::uint8_t>(status));
    return raw(data);
}

Track& Track::meta(std::uint64_t dt, int type, const Bytes& data) {
    delta(dt);
    raw({0xFF, type});
    raw(vlq(data.size()));
    return raw(data);
}

Track& Track::text(std::uint64_t dt, int type, std::string_view text) {
    return meta(dt, type, Bytes(text.begin(), text.end()));
}

Track& Track::tempo(std::uint64_t dt, std::uint32_t us) {
    return meta(dt, 0x51,
                {static_cast<std::uint8_t>(us >> 16), static_cast<std::uint8_t>(us >> 8),
                 static_cast<std::uint8_t>(us)});
}

Track& Track::timeSignature(std::uint64_t dt, int numerator, int exponent) {
    return meta(dt, 0x58,
                {static_cast<std::uint8_t>(numerator), static_cast<std::uint8_t>(exponent), 24, 8});
}

Track& Track::sysex(std::uint64_t dt, const Bytes& data) {
    delta(dt);
    bytes_.push_back(0xF0);
    raw(vlq(data.size()));
    return raw(data);
}

Track& Track::end(std::uint64_t dt) {
    delta(dt);
    return raw({0xFF, 0x2F, 0x00});
}

namespace {

void putBE(Bytes& out, std::uint64_t value, int size) {
    for (int shift = (size - 1) * 8; shift >= 0; shift -= 8) {
        out.push_back(static_cast<std::uint8_t>(value >> shift));
    }
}

}  // namespace

Bytes header(std::uint16_t format, std::uint16_t trackCount, std::uint16_t division,
             std::uint32_t headerLength) {
    Bytes out{'M', 'T', 'h', 'd'};
    putBE(out, headerLength, 4);
    putBE(out, format, 2);
    putBE(out, trackCount, 2);
    putBE(out, division, 2);
    if (headerLength > 6) {
        out.resize(out.size() + headerLength - 6, 0);
    }
    return out;
}

Bytes chunk(std::string_view tag, const Bytes& data) {
    return chunk(tag, data, static_cast<std::uint32_t>(data.size()));
}

Bytes chunk(std::string_view tag, const Bytes& data, std::uint32_t declaredLength) {
    Bytes out(tag.begin(), tag.end());
    putBE(out, declaredLength, 4);
    out.insert(out.end(), data.begin(), data.end());
    return out;
}

Bytes file(std::uint16_t format, std::uint16_t division, const std::vector<Track>& tracks) {
    Bytes out = header(format, static_cast<std::uint16_t>(tracks.size()), division);
    for (const Track& track : tracks) {
        out = out + chunk("MTrk", track.bytes());
    }
    return out;
}

Bytes operator+(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

}  // namespace smf
