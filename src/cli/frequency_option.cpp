#include "cli/frequency_option.h"

#include <cstdio>

#include "cli/unsigned_text.h"

namespace mid2nolt::cli {

bool readFrequencyOption(const char* text, std::uint32_t& frequency) {
    constexpr const char* kInvalidFrequency = "ERROR- Invalid Driver Frequency : ";
    if (mid2nolt::readUnsigned(text, frequency)) {
        return true;
    }
    std::fprintf(stderr, "%s%s\n", kInvalidFrequency, *text == '\0' ? "[None]" : text);
    return false;
}

}  // namespace mid2nolt::cli
