#include "convert/run_record.h"

namespace mid2nolt {

RunRecord runRecord;

void recordDriverFrequency(std::uint32_t frequency) {
    runRecord.driverFrequency = frequency;
}

void recordScript(const std::string& name, std::uint32_t track,
                  std::optional<std::uint32_t> channel) {
    runRecord.scripts.push_back({name, track, channel});
}

}  // namespace mid2nolt
