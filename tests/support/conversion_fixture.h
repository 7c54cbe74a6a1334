#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "convert/conversion_state.h"
#include "convert/script_format.h"
#include "convert/track_walker.h"
#include "midi/song.h"
#include "support/smf_builder.h"

namespace testing_support {

// A song of one format whose tracks are the given chunks' bytes, built in memory.
inline std::unique_ptr<mid2nolt::Song> songOf(std::uint16_t format, std::uint16_t division,
                                              const std::vector<smf::Bytes>& tracks) {
    auto song = std::make_unique<mid2nolt::Song>();
    song->format = format;
    song->division = division;
    song->trackCount = static_cast<std::uint16_t>(tracks.size());
    std::vector<std::size_t> offsets;
    for (const smf::Bytes& track : tracks) {
        offsets.push_back(song->bytes.size());
        song->bytes.insert(song->bytes.end(), track.begin(), track.end());
    }
    song->bytes.push_back(0);  // keeps data() valid for empty tracks
    for (std::size_t t = 0; t < tracks.size(); ++t) {
        song->tracks.push_back(
            {static_cast<std::uint32_t>(tracks[t].size()), song->bytes.data() + offsets[t]});
    }
    return song;
}

// Sets the run settings as a conversion run does: default tempo and time signature.
inline void startRun(std::uint16_t division, std::uint32_t driverFrequency = 60) {
    mid2nolt::conversionState = mid2nolt::ConversionState{};
    mid2nolt::resetMusicalContext();
    mid2nolt::conversionState.division = division;
    mid2nolt::conversionState.driverFrequency = driverFrequency;
}

// Runs `write` on a script stream over memory and returns what it wrote.
template <typename Write>
std::string scriptText(Write write) {
    char* text = nullptr;
    std::size_t size = 0;
    mid2nolt::ScriptStream out;
    out.adopt(open_memstream(&text, &size), "script");
    write(out);
    out.close();
    std::string result(text, size);
    std::free(text);
    return result;
}

// The body and trailer that one walk of a track writes.
inline std::string walkText(const mid2nolt::Song& song, std::uint32_t track, bool allChannels,
                            std::uint32_t channel = 0) {
    mid2nolt::conversionState.allChannels = allChannels;
    mid2nolt::conversionState.channel = channel;
    return scriptText([&](mid2nolt::ScriptStream& out) { mid2nolt::walkTrack(song, out, track); });
}

}  // namespace testing_support
