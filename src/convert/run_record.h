#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace mid2nolt {

// One script a run created.
struct ScriptRecord {
    std::string name;
    std::uint32_t track = 0;
    std::optional<std::uint32_t> channel;  // none for a script of the whole track
};

// What a run did, for the programs that drive the converter (the browser
// module, the fuzz harness), so that none of them reads it from the console:
// the driver frequency once the options are read, and every script created,
// in order.
struct RunRecord {
    std::optional<std::uint32_t> driverFrequency;
    std::vector<ScriptRecord> scripts;
};

extern RunRecord runRecord;

void recordDriverFrequency(std::uint32_t frequency);
void recordScript(const std::string& name, std::uint32_t track,
                  std::optional<std::uint32_t> channel);

}  // namespace mid2nolt
