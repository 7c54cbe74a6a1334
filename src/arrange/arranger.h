#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "arrange/smf_writer.h"
#include "arrange/voice_writer.h"
#include "midi/song.h"

namespace mid2nolt {

struct ArrangeOptions {
    std::uint32_t maxVoices = 0;  // voices per track and channel at most; 0: as many as needed
};

// What became of one part of the source: the notes of one track on one
// channel, or (no channel) a track's other events.
struct PartReport {
    std::uint32_t track = 0;
    std::optional<std::uint8_t> channel;
    bool hasNotes = false;  // a track without notes is kept as it is
    std::uint64_t notes = 0;
    std::uint64_t leftOut = 0;     // not placed in any voice
    std::uint64_t cutShort = 0;    // ended early for a note that took precedence
    std::uint32_t firstTrack = 0;  // the output tracks it became: firstTrack and on
    std::uint32_t trackCount = 0;
};

struct Arrangement {
    std::uint16_t format = 1;
    std::uint16_t division = 0;
    std::vector<Bytes> tracks;  // track chunk data
    std::vector<PartReport> parts;
};

// Rewrites a loaded song into monophonic voice tracks, each carrying the tempo
// map, in two steps: plan() deals the notes of every track into voices and
// tells what each part becomes; write() then makes the output tracks one at a
// time, so that only one source track's voices are ever held.
class Arranger {
public:
    static constexpr std::uint32_t kTrackLimit = 65535;

    Arranger(const Song& song, const ArrangeOptions& options);
    ~Arranger();
    Arranger(const Arranger&) = delete;
    Arranger& operator=(const Arranger&) = delete;

    // False with `error` set (the text after "ERROR- ") when it cannot.
    bool plan(std::string& error);
    // After a plan: the output's format (1, or 2 for format 2), its tracks and parts.
    std::uint16_t format() const;
    std::uint32_t trackCount() const { return trackCount_; }
    const std::vector<PartReport>& parts() const { return parts_; }
    // After a plan: hands every output track to `sink`; false when it stopped.
    bool write(const TrackSink& sink);

private:
    struct Plan;
    bool conductor(std::size_t track) const;

    const Song& song_;
    ArrangeOptions options_;
    std::unique_ptr<Plan> plan_;
    std::vector<PartReport> parts_;
    std::uint32_t trackCount_ = 0;
};

// Both steps at once, the tracks kept in memory.
bool arrange(const Song& song, const ArrangeOptions& options, Arrangement& result,
             std::string& error);

}  // namespace mid2nolt
