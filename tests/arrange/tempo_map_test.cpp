// The file's tempo map as the arranger copies it into every voice.

#include "arrange/tempo_map.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using mid2nolt::TempoMap;
using mid2nolt::TrackEvent;

TrackEvent tempo(std::uint32_t us) {
    TrackEvent event;
    event.kind = mid2nolt::EventKind::Meta;
    event.metaType = mid2nolt::kTempoMeta;
    event.tempo = us;
    return event;
}

TrackEvent timeSignature(std::uint8_t numerator, std::uint8_t exponent) {
    static std::uint8_t data[4];
    data[0] = numerator;
    data[1] = exponent;
    data[2] = 24;
    data[3] = 8;
    TrackEvent event;
    event.kind = mid2nolt::EventKind::Meta;
    event.metaType = mid2nolt::kTimeSignatureMeta;
    event.data = data;
    event.dataLength = 4;
    event.numerator = numerator;
    event.exponent = exponent;
    return event;
}

// Each entry as "tick:type=data bytes in hex".
std::string entries(const TempoMap& map) {
    std::string text;
    for (const mid2nolt::MapEntry& entry : map.entries) {
        text += std::to_string(entry.tick) + ":" +
                (entry.type == mid2nolt::kTempoMeta ? "T" : "S") + "=";
        for (std::uint32_t i = 0; i < entry.length; ++i) {
            static const char digits[] = "0123456789abcdef";
            const std::uint8_t byte = map.data[entry.offset + i];
            text += {digits[byte >> 4], digits[byte & 15]};
        }
        text += " ";
    }
    return text;
}

struct MapCase {
    const char* name;
    std::vector<std::pair<std::uint64_t, TrackEvent>> added;  // in the order the tracks are read
    std::string finished;
};

void PrintTo(const MapCase& c, std::ostream* os) {
    *os << c.name;
}

class Map : public testing::TestWithParam<MapCase> {};

TEST_P(Map, IsInTickOrderFromTheDefaults) {
    const MapCase& c = GetParam();
    TempoMap map;
    for (const auto& [tick, event] : c.added) {
        map.add(tick, event);
    }
    map.finish();
    EXPECT_EQ(entries(map), c.finished);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Map,
    testing::Values(MapCase{"Empty", {}, ""},
                    // Tracks read one after another: at one tick, the earlier track first.
                    MapCase{"ByTickEarlierTracksFirst",
                            {{96, tempo(0x0F4240)}, {0, tempo(0x07A120)}, {96, tempo(0x03D090)}},
                            "0:T=07a120 96:T=0f4240 96:T=03d090 "},
                    // A setting changed later but not at the start starts at its default.
                    MapCase{"DefaultsWhereTheStartSaysNothing",
                            {{96, tempo(0x0F4240)}, {48, timeSignature(3, 3)}},
                            "0:S=04021808 0:T=07a120 48:S=03031808 96:T=0f4240 "},
                    MapCase{"NoDefaultWhereTheStartSetsIt",
                            {{0, tempo(0x0F4240)}, {96, tempo(0x07A120)}},
                            "0:T=0f4240 96:T=07a120 "}),
    [](const testing::TestParamInfo<MapCase>& info) { return info.param.name; });

}  // namespace
