#pragma once

#include <cstdint>

namespace mid2nolt {

class ScriptStream;

// Converts a span of MIDI ticks into whole driver ticks under the current
// tempo, division and driver frequency. The fractional remainder is added to
// the carried `fraction`; when that reaches a whole tick, the tick is paid out
// in this call. Returns the low 32 bits. A span with no finite answer (division
// 0) converts to 0 and leaves the carry alone.
std::uint32_t toDriverTicks(std::int64_t delta);

// Writes the timed line for the span since the previous emission, chosen by
// the note event recorded then, and keeps the bar accounting (tick marks and
// the request for a bar heading).
void emitLine(ScriptStream& out);

}  // namespace mid2nolt
