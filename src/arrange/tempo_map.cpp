#include "arrange/tempo_map.h"

#include "midi/tempo.h"

namespace mid2nolt {

void TempoMap::add(std::uint64_t tick, const TrackEvent& event) {
    const auto offset = static_cast<std::uint32_t>(data.size());
    if (event.metaType == kTempoMeta) {
        data.insert(data.end(), {static_cast<std::uint8_t>(event.tempo >> 16),
                                 static_cast<std::uint8_t>(event.tempo >> 8),
                                 static_cast<std::uint8_t>(event.tempo)});
    } else if (event.dataLength >= 2) {
        data.insert(data.end(), event.data, event.data + event.dataLength);
    } else {
        data.insert(data.end(), {event.numerator, event.exponent});
    }
    entries.push_back(
        {tick, event.metaType, offset, static_cast<std::uint32_t>(data.size() - offset)});
}

std::vector<TempoChange> TempoMap::tempos(std::size_t from) const {
    std::vector<TempoChange> changes;
    for (std::size_t e = from; e < entries.size(); ++e) {
        const MapEntry& entry = entries[e];
        if (entry.type == kTempoMeta) {
            const std::uint8_t* at = data.data() + entry.offset;
            changes.push_back(
                {entry.tick, std::uint32_t{at[0]} << 16 | std::uint32_t{at[1]} << 8 | at[2]});
        }
    }
    return changes;
}

void TempoMap::finish() {
    orderByTick(entries);
    addDefault(kTempoMeta, kDefaultTempoBytes, sizeof kDefaultTempoBytes);
    addDefault(kTimeSignatureMeta, kDefaultTimeSignatureBytes, sizeof kDefaultTimeSignatureBytes);
}

void TempoMap::addDefault(std::uint8_t type, const std::uint8_t* bytes, std::uint32_t length) {
    bool any = false;
    for (const MapEntry& entry : entries) {
        if (entry.type == type) {
            if (entry.tick == 0) {
                return;
            }
            any = true;
        }
    }
    if (any) {
        const auto offset = static_cast<std::uint32_t>(data.size());
        data.insert(data.end(), bytes, bytes + length);
        entries.insert(entries.begin(), {0, type, offset, length});
    }
}

}  // namespace mid2nolt
