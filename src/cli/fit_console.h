// The console's account of a fit to driver channels.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "arrange/arranger.h"
#include "fit/channel_fit.h"

namespace mid2nolt::cli {

// 1234567 as "1,234,567": the same on every platform, whatever the locale.
std::string grouped(std::uint64_t count);

// The track of the arranged file that each channel of the fit became.
std::vector<std::uint32_t> fittedTracks(const ChannelFit& fit, const Arranger& arranger);

// A line per channel (its role, where its notes came from, how many it keeps
// and cuts short, and its track in the arranged file), then the total against
// the most `channels` channels can hold.
void printFit(const ChannelFit& fit, const std::vector<std::uint32_t>& tracks,
              std::uint32_t channels);

}  // namespace mid2nolt::cli
