#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "arrange/voice_writer.h"
#include "midi/smf_writer.h"
#include "midi/song.h"
#include "midi/track_source.h"

namespace mid2nolt {

struct ArrangeOptions {
    std::uint32_t maxVoices = 0;  // voices per track and channel at most; 0: as many as needed
    // 1: every voice with the file's tempo map, in format 1 (format 2 stays
    // 2); 0: where a voice sounds across a change of tempo, each such voice
    // with a tempo map of its own, in format 2.
    std::uint16_t format = 0;
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
    std::uint64_t notesAcrossTempo = 0;
    bool ownTempoMaps = false;
    std::uint64_t temposHeld = 0;
    double drift = 0;
};

// Rewrites a loaded song into monophonic voice tracks, each carrying the tempo
// map, in two steps: plan() deals the notes of every track into voices and
// tells what each part becomes; write() then makes the output tracks one at a
// time, so that only one source track's voices are ever held.
class Arranger {
public:
    static constexpr std::uint32_t kTrackLimit = 65535;

    // `song` outlives the arranger.
    Arranger(const SongSource& song, const ArrangeOptions& options);
    ~Arranger();
    Arranger(const Arranger&) = delete;
    Arranger& operator=(const Arranger&) = delete;

    // False with `error` set (the text after "ERROR- ") when it cannot.
    bool plan(std::string& error);
    // After a plan: the output's format (1, or 2 for format 2), its tracks and parts.
    std::uint16_t format() const;
    std::uint32_t trackCount() const { return trackCount_; }
    const std::vector<PartReport>& parts() const { return parts_; }
    // After a plan: the notes that sound across a change of tempo, and
    // whether their voices get tempo maps of their own (format 2).
    std::uint64_t notesAcrossTempo() const { return notesAcrossTempo_; }
    bool ownTempoMaps() const { return ownTempoMaps_; }
    // After a write: spans whose tempo could not be written (held to
    // 1..16777215), and, where voices keep the file's tempo across changes
    // inside their notes, the largest difference in seconds between a note's
    // start as the converter times it and in the file.
    std::uint64_t temposHeld() const;
    double drift() const;
    // After a plan: hands every output track to `sink`; false when it stopped.
    bool write(const TrackSink& sink);

private:
    struct Plan;
    bool conductor(std::size_t track) const;
    // The first pass over every track: see plan.
    bool planTracks(std::string& error);
    // What each part of the source becomes, and how many output tracks.
    void listParts();

    const SongSource& song_;
    ArrangeOptions options_;
    std::unique_ptr<Plan> plan_;
    std::vector<PartReport> parts_;
    std::uint32_t trackCount_ = 0;
    std::uint64_t outputTracks_ = 0;  // as listParts counts them, past the limit too
    std::uint64_t notesAcrossTempo_ = 0;
    bool ownTempoMaps_ = false;
};

// Both steps at once, the tracks kept in memory.
bool arrange(const SongSource& song, const ArrangeOptions& options, Arrangement& result,
             std::string& error);
bool arrange(const Song& song, const ArrangeOptions& options, Arrangement& result,
             std::string& error);

}  // namespace mid2nolt
