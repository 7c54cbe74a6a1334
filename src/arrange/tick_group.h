// The note events of one tick, paired, as both passes of the arranger take them.
#pragma once

#include <cstdint>
#include <vector>

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

    // A note starts here, numbered next after those before.
    void start(std::uint8_t channel, std::uint8_t key, std::uint8_t velocity) {
        starts.push_back(
            {first + static_cast<std::uint32_t>(starts.size()), channel, key, velocity});
    }
    // Note `note` ends here: on its start, when it started here, else as one
    // of the tick's ends.
    void end(std::uint32_t note, std::uint8_t channel, std::uint8_t key, std::uint8_t release) {
        if (note >= first) {
            starts[note - first].ended = true;
            starts[note - first].release = release;
        } else {
            ends.push_back({note, channel, key, release});
        }
    }
    // The number of the next note to start.
    std::uint32_t next() const { return first + static_cast<std::uint32_t>(starts.size()); }
};

}  // namespace mid2nolt
