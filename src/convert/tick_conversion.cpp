#include "convert/tick_conversion.h"

#include <cfloat>
#include <limits>

#include "convert/conversion_state.h"
#include "convert/script_format.h"

// Every build must compute the same ticks: each double operation rounded to a
// plain IEEE 754 double, none kept with excess precision (x87 without SSE2 math).
static_assert(std::numeric_limits<double>::is_iec559, "doubles must be IEEE 754");
static_assert(FLT_EVAL_METHOD == 0, "doubles must not be evaluated with excess precision");

namespace mid2nolt {

namespace {

// 2^63: the first double beyond the signed 64-bit range.
constexpr double kInt64Limit = 9223372036854775808.0;

// What the conversion derives from the tempo, the time signature and the run
// settings. Every emission needs it and each value costs a division, so it is
// computed again only when one of its inputs has changed.
struct Timing {
    std::uint32_t tempo = 0;
    std::uint32_t driverFrequency = 0;
    std::uint16_t division = 0;
    std::uint8_t beatsPerBar = 0;
    std::uint8_t beatUnit = 0;
    bool valid = false;
    double tickLength = 0.0;     // tempo × 1e-6 ÷ division: seconds per MIDI tick
    std::uint32_t barTicks = 0;  // whole driver ticks in a bar

    bool matches(const ConversionState& s) const {
        return valid && tempo == s.tempo && driverFrequency == s.driverFrequency &&
               division == s.division && beatsPerBar == s.beatsPerBar && beatUnit == s.beatUnit;
    }
};

Timing timing;

// The span in driver ticks, in exactly this order of double operations:
// the results must match to the last bit, and any reordering changes some of
// them (160 MIDI ticks at 500000 us, 96 per quarter and 60 Hz are
// 49.999999999999993, hence 49). The first two steps are kept in tickLength.
double spanInDriverTicks(double tickLength, std::int64_t delta) {
    double x = tickLength * static_cast<double>(delta);
    x = x * static_cast<double>(conversionState.driverFrequency);
    return x;
}

// Splits x into whole and fractional parts exactly as modf does; false when x
// is not finite or its whole part does not fit a signed 64-bit integer. Within
// that range the truncating conversion is exact and so is x - whole, and it
// costs a fraction of a call to modf on the hottest path of a conversion.
bool splitTicks(double x, double& whole, double& part) {
    if (!(x >= -kInt64Limit && x < kInt64Limit)) {
        return false;
    }
    whole = static_cast<double>(static_cast<std::int64_t>(x));
    part = x - whole;
    return true;
}

std::uint32_t low32(double whole) {
    return static_cast<std::uint32_t>(static_cast<std::uint64_t>(static_cast<std::int64_t>(whole)));
}

std::uint32_t wholeTicks(double tickLength, std::int64_t ticks) {
    double whole = 0.0;
    double part = 0.0;
    if (!splitTicks(spanInDriverTicks(tickLength, ticks), whole, part)) {
        return 0;
    }
    return low32(whole);
}

const Timing& refreshTiming() {
    const ConversionState& s = conversionState;
    timing.tempo = s.tempo;
    timing.driverFrequency = s.driverFrequency;
    timing.division = s.division;
    timing.beatsPerBar = s.beatsPerBar;
    timing.beatUnit = s.beatUnit;
    timing.valid = true;
    timing.tickLength = static_cast<double>(s.tempo) * 1e-6;
    timing.tickLength = timing.tickLength / static_cast<double>(s.division);
    // The bar is truncated to whole MIDI ticks first.
    const std::uint32_t ticksPerBar =
        s.beatUnit == 0 ? 0 : std::uint32_t{s.division} * s.beatsPerBar * 4u / s.beatUnit;
    timing.barTicks = wholeTicks(timing.tickLength, ticksPerBar);
    return timing;
}

inline const Timing& currentTiming() {
    return timing.matches(conversionState) ? timing : refreshTiming();
}

// The conversion with the carry, as toDriverTicks describes it.
std::uint32_t carriedTicks(const Timing& t, std::int64_t delta) {
    ConversionState& s = conversionState;
    double whole = 0.0;
    double part = 0.0;
    if (!splitTicks(spanInDriverTicks(t.tickLength, delta), whole, part)) {
        return 0;
    }
    s.fraction = s.fraction + part;
    if (s.fraction >= 1.0) {
        // Doubles this large are at least 1024 apart, so this stays in range.
        whole = whole + 1.0;
    }
    const std::uint32_t result = low32(whole);
    // The fraction stays within (-2, 2): keep its fractional part.
    s.fraction = s.fraction - static_cast<double>(static_cast<std::int64_t>(s.fraction));
    return result;
}

}  // namespace

std::uint32_t toDriverTicks(std::int64_t delta) {
    return carriedTicks(currentTiming(), delta);
}

void emitLine(ScriptStream& out) {
    ConversionState& s = conversionState;
    const Timing& t = currentTiming();
    const std::uint32_t ticks =
        carriedTicks(t, static_cast<std::int64_t>(s.absTime - s.lastEmitTime));
    s.driverTicks += ticks;

    if (s.noteOnPending) {
        if (s.pendingVelocity == 0 && s.pendingKey == s.lastKey) {
            out.rest(ticks);
        } else {
            out.note(s.pendingKey, ticks);
        }
        s.lastKey = s.pendingKey;
    } else if (s.noteOffPending) {
        out.rest(ticks);
    } else {
        out.wait(ticks);
    }

    // Bar accounting. What is left of a bar is not carried to the next.
    const std::uint32_t barTicks = t.barTicks;
    const std::uint32_t elapsed = s.driverTicks - s.barMarkTicks;
    if (barTicks != 0 && elapsed >= barTicks) {
        out.tickMark(elapsed);
        s.barNumber += elapsed / barTicks;
        s.barMarkTicks = s.driverTicks;
        s.barHeaderPending = true;
    }

    s.noteOnPending = false;
    s.noteOffPending = false;
    s.pendingVelocity = 0;
    s.lastEmitTime = s.absTime;
}

}  // namespace mid2nolt
