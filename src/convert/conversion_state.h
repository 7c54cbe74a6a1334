#pragma once

#include <cstdint>

#include "midi/midi_facts.h"

namespace mid2nolt {

// The one record that carries a conversion run: run settings, the musical
// context that meta events change, the position in the track being walked,
// and the counters of line emission. There is exactly one instance
// (`conversionState`); the emitter, the walker and the output driver all reach
// it directly.
struct ConversionState {
    // Run settings.
    std::uint16_t division = 0;         // MIDI ticks per quarter note
    std::uint32_t driverFrequency = 0;  // driver ticks per second
    bool allChannels = false;           // the script takes every channel...
    std::uint32_t channel = 0;          // ...or only this one

    // Musical context. Set once per run; carried from one script to the next
    // except in format-2 files, where every walk starts from the defaults.
    std::uint32_t tempo = 0;  // microseconds per quarter note
    std::uint8_t beatsPerBar = 0;
    std::uint8_t beatUnit = 0;  // note value of one beat: 4 is a quarter note

    // Position and emission counters, reset at the start of every walk.
    std::uint32_t trackLength = 0;
    std::uint64_t absTime = 0;       // MIDI ticks since the start of the track
    std::uint64_t lastEmitTime = 0;  // absTime at the last emission
    double fraction = 0.0;           // driver-tick fraction carried between conversions
    std::uint32_t driverTicks = 0;   // driver ticks written into the script so far
    bool noteOnPending = false;
    std::uint8_t pendingKey = 0;
    std::uint8_t pendingVelocity = 0;  // never reset per walk: every note-on sets it first
    bool noteOffPending = false;
    std::uint8_t lastKey = 0;
    std::uint32_t barMarkTicks = 0;  // driverTicks at the last tick mark
    std::uint32_t barNumber = 0;
    std::uint32_t lastBarPrinted = 0;
    bool barHeaderPending = false;
};

extern ConversionState conversionState;

// Tempo and time signature back to their defaults.
void resetMusicalContext();

}  // namespace mid2nolt
