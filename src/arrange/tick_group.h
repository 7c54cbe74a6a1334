// The note events of one tick, paired, as both passes of the arranger take them.
#pragma once

#include <cstdint>
#include <vector>

#include "midi/notes.h"

namespace mid2nolt {

// The notes that start at a tick, and the notes that end there, of those
// sounding before (`ends`) or of those that start there and so last no time
// (`ended` on the start). Notes are numbered in the order they start.
struct NoteStart {
    std::uint32_t note;
    std::uint8_t channel;
    std::uint8_t key;
    std::uint8_t velocity;
    bool ended = false;
    std::uint8_t release = 0;
};
struct NoteEnd {
    std::uint32_t note;
    std::uint8_t channel;
    std::uint8_t key;
    std::uint8_t release;
};
struct TickGroup {
    std::uint32_t first = 0;  // the number of the first note that starts here
    std::vector<NoteStart> starts;
    std::vector<NoteEnd> ends;

    void clear(std::uint32_t nextNote) {
        first = nextNote;
        starts.clear();
        ends.clear();
    }
    bool empty() const { return starts.empty() && ends.empty(); }

    // Pairs one note event of the tick; the next note to start is `nextNote`.
    [[gnu::always_inline]] void pair(const TrackEvent& event, Sounding& sounding,
                                     std::uint32_t& nextNote) {
        const auto ended = [&](std::uint32_t note, std::uint8_t release) {
            end(event, note, release);
        };
        if (pairNote(event, sounding, nextNote, ended)) {
            starts.push_back({nextNote++, channelOf(event.status), event.data1, event.data2});
        }
    }

private:
    // Ends `note` where `event` stands: on its start, when it started in this
    // tick, else as one of the tick's ends.
    [[gnu::always_inline]] void end(const TrackEvent& event, std::uint32_t note,
                                    std::uint8_t release) {
        if (note >= first) {
            starts[note - first].ended = true;
            starts[note - first].release = release;
        } else {
            ends.push_back({note, channelOf(event.status), event.data1, release});
        }
    }
};

}  // namespace mid2nolt
