#include "convert/track_output.h"

#include <cstdio>
#include <string>

#include "convert/conversion_state.h"
#include "convert/run_record.h"
#include "convert/script_format.h"
#include "convert/track_walker.h"
#include "midi/song.h"
#include "midi/track_events.h"

namespace mid2nolt {

namespace {

// Opens the script, reports it on the console and writes its header; then the
// walker writes the rest and closes it.
std::int32_t writeScript(const Song& song, std::uint32_t track, const std::string& scriptName,
                         std::string_view baseName, ScriptStream& out) {
    if (!out.open(scriptName)) {
        std::fprintf(stderr, "%s%s\n",
                     "ERROR- Couldn't create output NOLT Script : ", scriptName.c_str());
        return -1;
    }
    const ConversionState& s = conversionState;
    recordScript(scriptName, track, s.allChannels ? std::nullopt : std::optional(s.channel));
    if (s.allChannels) {
        std::printf("Saving Track %u to NOLT Script : %s\n", track, scriptName.c_str());
        out.wholeTrackHeader(track, baseName);
    } else {
        std::printf("Saving Track %u, Channel %u to NOLT Script : %s\n", track, s.channel,
                    scriptName.c_str());
        out.channelHeader(track, s.channel, baseName);
    }
    return walkTrack(song, out, track);
}

}  // namespace

std::uint16_t soundingChannels(const Song& song, std::uint32_t trackIndex) {
    const TrackChunk& track = song.tracks[trackIndex];
    conversionState.trackLength = track.length;
    if (track.data == nullptr || track.length == 0) {
        return 0;
    }
    TrackEventReader reader(track.data, track.length);
    std::uint16_t mask = 0;
    std::uint64_t delta = 0;
    TrackEvent event;
    while (reader.readDelta(delta) && reader.readEvent(event) &&
           event.kind != EventKind::EndOfTrack) {
        if (startsNote(event)) {
            mask = static_cast<std::uint16_t>(mask | 1u << channelOf(event.status));
        }
    }
    return mask;
}

bool channelHasNotes(const Song& song, std::uint32_t trackIndex, std::uint32_t channel) {
    return (soundingChannels(song, trackIndex) >> channel & 1u) != 0;
}

std::int32_t convert(const Song& song, std::string_view baseName, std::uint32_t driverFrequency,
                     bool packingFlag) {
    ConversionState& s = conversionState;
    runRecord.scripts.clear();
    resetMusicalContext();
    s.division = song.division;
    s.driverFrequency = driverFrequency;

    // Each suffix is written over the previous one, behind the base name.
    std::string scriptName(baseName);
    char suffix[32];
    const auto nameScript = [&](int length) {
        scriptName.replace(baseName.size(), std::string::npos, suffix,
                           static_cast<std::size_t>(length));
    };
    ScriptStream out;
    for (std::uint32_t t = 0; t < song.trackCount; ++t) {
        if (packingFlag || (t == 0 && song.format == 1)) {
            s.allChannels = true;
            nameScript(std::snprintf(suffix, sizeof suffix, "_%u.txt", t));
            if (writeScript(song, t, scriptName, baseName, out) != 0) {
                return -1;
            }
            continue;
        }

        s.allChannels = false;
        const std::uint16_t channelMask = soundingChannels(song, t);
        if (channelMask == 0) {
            continue;
        }
        std::printf("Track %u has activity on Channel(s) : ", t);
        for (std::uint32_t c = 0; c < 16; ++c) {
            if (channelMask >> c & 1u) {
                std::printf("%u ", c);
            }
        }
        std::printf("\n");
        for (std::uint32_t c = 0; c < 16; ++c) {
            if ((channelMask >> c & 1u) == 0) {
                continue;
            }
            s.channel = c;
            nameScript(std::snprintf(suffix, sizeof suffix, "_%u_%u.txt", t, c));
            if (writeScript(song, t, scriptName, baseName, out) != 0) {
                return -1;
            }
        }
    }
    return 0;
}

}  // namespace mid2nolt
