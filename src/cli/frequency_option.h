// The driver frequency option, -f<ticks a second>, as every command line
// reads it.
#pragma once

#include <cstdint>

namespace mid2nolt::cli {

// Reads the text after "-f" as C's "%u" reads it (leading blanks and a sign
// accepted, anything after the number ignored: see readUnsigned). False,
// with the error written, where no number is there.
bool readFrequencyOption(const char* text, std::uint32_t& frequency);

}  // namespace mid2nolt::cli
