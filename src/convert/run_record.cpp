#include "convert/run_record.h"

#ifdef __EMSCRIPTEN__
#include <emscripten/emscripten.h>

// The module that runs the core passes these callbacks in its options.
// clang-format off
EM_JS(void, reportDriverFrequency, (std::uint32_t frequency), {
    if (Module["onDriverFrequency"]) Module["onDriverFrequency"](frequency >>> 0);
});
EM_JS(void, reportScript, (const char* name, std::uint32_t track, std::int32_t channel), {
    if (Module["onScriptCreated"])
        Module["onScriptCreated"](UTF8ToString(name), track >>> 0, channel < 0 ? null : channel);
});
// clang-format on
#endif

namespace mid2nolt {

RunRecord runRecord;

void recordDriverFrequency(std::uint32_t frequency) {
    runRecord.driverFrequency = frequency;
#ifdef __EMSCRIPTEN__
    reportDriverFrequency(frequency);
#endif
}

void recordScript(const std::string& name, std::uint32_t track,
                  std::optional<std::uint32_t> channel) {
    runRecord.scripts.push_back({name, track, channel});
#ifdef __EMSCRIPTEN__
    reportScript(name.c_str(), track, channel ? static_cast<std::int32_t>(*channel) : -1);
#endif
}

}  // namespace mid2nolt
