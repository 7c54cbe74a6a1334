#include "midi/notes.h"

namespace mid2nolt {

std::vector<std::vector<Note>> songNotes(const Song& song) {
    std::vector<std::vector<Note>> tracks;
    Sounding sounding;
    for (const TrackChunk& track : song.tracks) {
        std::vector<Note>& notes = tracks.emplace_back();
        pairTrack(
            track, sounding,
            [&](std::uint64_t tick, std::uint8_t channel, std::uint8_t key, std::uint8_t velocity) {
                notes.push_back({tick, tick, channel, key, velocity});
            },
            [&](std::uint32_t note, std::uint64_t tick) { notes[note].end = tick; },
            [](const TrackEvent&, std::uint64_t) {});
    }
    return tracks;
}

SongTimeline songTimeline(const Song& song) {
    SongTimeline timeline;
    Sounding sounding;
    // Room for a note every 8 bytes of track, what a note-on and its note-off
    // take in most files, so that the arrays seldom grow and copy: they grow
    // past it when there are more; room left over is never touched.
    std::size_t hint = 0;
    for (const TrackChunk& track : song.tracks) {
        hint += track.length / 8;
    }
    timeline.starts.reserve(hint);
    timeline.ends.reserve(hint);
    timeline.channels.reserve(hint);
    timeline.keys.reserve(hint);
    for (const TrackChunk& track : song.tracks) {
        const std::size_t first = timeline.starts.size();
        std::vector<TempoChange>& changes = timeline.tempos.emplace_back();
        pairTrack(
            track, sounding,
            [&](std::uint64_t tick, std::uint8_t channel, std::uint8_t key, std::uint8_t) {
                timeline.starts.push_back(static_cast<double>(tick));
                timeline.ends.push_back(static_cast<double>(tick));
                timeline.channels.push_back(channel);
                timeline.keys.push_back(key);
            },
            [&](std::uint32_t note, std::uint64_t tick) {
                timeline.ends[first + note] = static_cast<double>(tick);
            },
            [&](const TrackEvent& event, std::uint64_t tick) {
                if (event.kind == EventKind::Meta && event.metaType == kTempoMeta) {
                    changes.push_back({tick, event.tempo});
                }
            });
        timeline.trackNotes.push_back(static_cast<std::uint32_t>(timeline.starts.size() - first));
    }
    return timeline;
}

bool timeInSeconds(const Song& song, SongTimeline& timeline) {
    if (!Division{song.division}.perQuarter()) {
        return false;
    }
    // One tempo map for the song; a format-2 file's tracks are songs of their own.
    const std::vector<std::vector<TempoChange>>& changes = timeline.tempos;
    std::vector<TempoChange> all;
    for (const std::vector<TempoChange>& track : changes) {
        all.insert(all.end(), track.begin(), track.end());
    }
    orderByTick(all);
    const SecondsMap shared(all, song.division);
    std::size_t first = 0;
    for (std::size_t track = 0; track < changes.size(); ++track) {
        const SecondsMap own(song.format == 2 ? changes[track] : std::vector<TempoChange>{},
                             song.division);
        const SecondsMap& map = song.format == 2 ? own : shared;
        const std::uint32_t count = timeline.trackNotes[track];
        map.toSeconds(timeline.starts.data() + first, timeline.ends.data() + first, count);
        first += count;
    }
    return true;
}

}  // namespace mid2nolt
