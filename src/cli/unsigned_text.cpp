#include "cli/unsigned_text.h"

#include <limits>

namespace mid2nolt {

namespace {

bool isSpace(char c) {
    return c == ' ' || (c >= '\t' && c <= '\r');
}

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

}  // namespace

bool readUnsigned(const char* text, std::uint32_t& value) {
    constexpr std::uint64_t kMax = std::numeric_limits<std::uint64_t>::max();
    while (isSpace(*text)) {
        ++text;
    }
    const bool negative = *text == '-';
    if (*text == '-' || *text == '+') {
        ++text;
    }
    if (!isDigit(*text)) {
        return false;
    }
    std::uint64_t number = 0;
    bool saturated = false;
    for (; isDigit(*text); ++text) {
        const auto digit = static_cast<std::uint64_t>(*text - '0');
        if (number > (kMax - digit) / 10) {
            saturated = true;
        } else {
            number = number * 10 + digit;
        }
    }
    if (saturated) {
        number = kMax;
    } else if (negative) {
        number = 0 - number;
    }
    value = static_cast<std::uint32_t>(number);
    return true;
}

}  // namespace mid2nolt
