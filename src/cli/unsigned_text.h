#pragma once

#include <cstdint>

namespace mid2nolt {

// Reads an unsigned number the way glibc's sscanf "%u" does, identically on
// every platform (C libraries differ on overflow): leading white space, an
// optional sign, then decimal digits up to the first other character. The
// digits are taken as an unsigned 64-bit value, saturated on overflow; a minus
// sign negates it modulo 2^64 (unless saturated), and the low 32 bits are
// stored. False, with `value` unchanged, when no digit follows.
bool readUnsigned(const char* text, std::uint32_t& value);

}  // namespace mid2nolt
