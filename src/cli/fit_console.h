// The console's account of a fit to driver channels.
#pragma once

#include <cstdint>
#include <string>

#include "arrange/arranger.h"
#include "arrange/channel_fit.h"

namespace mid2nolt::cli {

// 1234567 as "1,234,567": the same on every platform, whatever the locale.
std::string grouped(std::uint64_t count);

// A line per channel (its role, where its notes came from, how many it keeps
// and cuts short, and its track in the arranged file), then the total against
// the most `channels` channels can hold.
void printFit(const ChannelFit& fit, const Arranger& arranger, std::uint32_t channels);

}  // namespace mid2nolt::cli
