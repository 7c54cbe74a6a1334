#include "arrange/arranger.h"

#include <algorithm>
#include <utility>

#include "arrange/tempo_map.h"
#include "arrange/track_plan.h"
#include "arrange/voice_writer.h"
#include "midi/messages.h"
#include "midi/midi_facts.h"

namespace mid2nolt {

struct Arranger::Plan {
    std::vector<TrackPlan> tracks;
    std::vector<TempoMap> maps;       // one for the file, or one per track in format 2
    std::vector<SecondsMap> seconds;  // each map's, to time in seconds
    PlanBuffers buffers;
    VoiceWriter writer;
};

Arranger::Arranger(const SongSource& song, const ArrangeOptions& options)
    : song_(song), options_(options), plan_(std::make_unique<Plan>()) {}

Arranger::~Arranger() = default;

std::uint16_t Arranger::format() const {
    return song_.format() == 2 || ownTempoMaps_ ? 2 : 1;
}

std::uint64_t Arranger::temposHeld() const {
    return plan_->writer.temposHeld();
}

double Arranger::drift() const {
    return plan_->writer.drift();
}

bool Arranger::conductor(std::size_t track) const {
    return track == 0 && song_.format() != 2;
}

bool Arranger::planTracks(std::string& error) {
    Plan& plan = *plan_;
    plan.tracks.assign(song_.trackCount(), {});
    const bool shared = song_.format() != 2;
    plan.maps.assign(shared ? 1 : song_.trackCount(), {});
    // A track's notes are watched for changes of tempo in the map as known
    // before it and in its own; a shared map's entries in later tracks are
    // then looked at again below.
    std::vector<TempoChange> known;
    const std::vector<TempoChange> none;
    std::size_t lastWithTempo = 0;
    for (std::size_t t = 0; t < song_.trackCount(); ++t) {
        TempoMap& map = plan.maps[shared ? 0 : t];
        const std::size_t entriesBefore = map.entries.size();
        if (!planTrack(song_, t, options_.maxVoices, plan.tracks[t], &map, shared ? known : none,
                       plan.buffers)) {
            error = "Track " + std::to_string(t) + messages::kTrackTooLong;
            return false;
        }
        if (shared && plan.tracks[t].tempoEntries > 0) {
            const std::size_t middle = known.size();
            const std::vector<TempoChange> added = map.tempos(entriesBefore);
            known.insert(known.end(), added.begin(), added.end());
            orderByTick(known, middle);
            lastWithTempo = t;
        }
    }
    for (std::size_t t = 0; shared && t < lastWithTempo; ++t) {
        if (!plan.tracks[t].voiceOf.empty()) {
            plan.tracks[t] = {};
            planTrack(song_, t, options_.maxVoices, plan.tracks[t], nullptr, known, plan.buffers);
        }
    }
    return true;
}

void Arranger::listParts() {
    parts_.clear();
    std::uint64_t next = 0;
    const auto part = [&](std::uint32_t track, std::optional<std::uint8_t> channel, bool hasNotes,
                          const ChannelPlan* notes, std::uint32_t count) {
        parts_.push_back({track, channel, hasNotes, notes ? notes->notes : 0,
                          notes ? notes->leftOut : 0, notes ? notes->cutShort : 0,
                          static_cast<std::uint32_t>(std::min<std::uint64_t>(next, kTrackLimit)),
                          count});
        next += count;
    };
    for (std::size_t t = 0; t < song_.trackCount(); ++t) {
        const TrackPlan& track = plan_->tracks[t];
        const auto number = static_cast<std::uint32_t>(t);
        const bool hasNotes = !track.voiceOf.empty();
        if (!hasNotes || conductor(t)) {
            part(number, std::nullopt, hasNotes, nullptr, 1);
        }
        for (std::uint8_t c = 0; c < 16; ++c) {
            const ChannelPlan& channel = track.channels[c];
            if (channel.notes != 0) {
                part(number, c, true, &channel, static_cast<std::uint32_t>(channel.lastEnd.size()));
            }
        }
    }
    outputTracks_ = next;
}

bool Arranger::plan(std::string& error) {
    Plan& plan = *plan_;
    if (!planTracks(error)) {
        return false;
    }
    plan.seconds.clear();
    for (TempoMap& map : plan.maps) {
        map.finish();
        plan.seconds.emplace_back(map.tempos(), song_.division());
    }
    notesAcrossTempo_ = 0;
    for (const TrackPlan& track : plan.tracks) {
        notesAcrossTempo_ += track.notesAcrossTempo;
    }
    // Times in seconds need ticks a quarter note, not SMPTE frames.
    const bool timed = Division{song_.division()}.perQuarter();
    ownTempoMaps_ = options_.format != 1 && timed && notesAcrossTempo_ > 0;
    plan.writer.settings(ownTempoMaps_, !ownTempoMaps_ && timed && notesAcrossTempo_ > 0,
                         song_.division());

    listParts();
    if (outputTracks_ > kTrackLimit) {
        error = "Too many voice tracks for one MIDI File : " + std::to_string(outputTracks_);
        return false;
    }
    trackCount_ = static_cast<std::uint32_t>(outputTracks_);
    return true;
}

bool Arranger::write(const TrackSink& sink) {
    Plan& plan = *plan_;
    for (std::size_t t = 0; t < song_.trackCount(); ++t) {
        const TrackPlan& trackPlan = plan.tracks[t];
        const bool written =
            !trackPlan.voiceOf.empty()
                ? plan.writer.write(song_, t, trackPlan, plan.maps[song_.format() == 2 ? t : 0],
                                    plan.seconds[song_.format() == 2 ? t : 0], conductor(t), sink)
                : song_.copy(t, sink);
        if (!written) {
            return false;
        }
    }
    return true;
}

bool arrange(const SongSource& song, const ArrangeOptions& options, Arrangement& result,
             std::string& error) {
    result = {};
    Arranger arranger(song, options);
    if (!arranger.plan(error)) {
        return false;
    }
    result.format = arranger.format();
    result.division = song.division();
    result.parts = arranger.parts();
    result.notesAcrossTempo = arranger.notesAcrossTempo();
    result.ownTempoMaps = arranger.ownTempoMaps();
    const bool written = arranger.write([&](std::span<const std::uint8_t> track) {
        result.tracks.emplace_back(track.begin(), track.end());
        return true;
    });
    result.temposHeld = arranger.temposHeld();
    result.drift = arranger.drift();
    return written;
}

bool arrange(const Song& song, const ArrangeOptions& options, Arrangement& result,
             std::string& error) {
    return arrange(SongChunks(song), options, result, error);
}

}  // namespace mid2nolt
