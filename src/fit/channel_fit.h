// Which notes of a song a driver with N monophonic channels plays, and on
// which channel: the melody, the bass and the beat first, then as many of the
// other notes as fit.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "midi/large_pages.h"
#include "midi/song.h"
#include "midi/track_events.h"

namespace mid2nolt {

enum class DrumChoice : std::uint8_t {
    Auto,  // a drum channel from 4 channels on, or below where the rest fits whole
    On,    // a drum channel whatever the count, when the song has drums
    Off,   // no drum channel: drum notes are left out
};

// The notes of one track on one MIDI channel.
struct SourcePart {
    std::uint32_t track = 0;
    std::uint8_t channel = 0;
    std::string name;  // its track's name, else its instrument's, as written
    int program = -1;  // the channel's first General MIDI program there, -1 for none
};

// A part the user names: a track, and one of its MIDI channels or all.
struct PartChoice {
    std::uint32_t track = 0;
    std::optional<std::uint8_t> channel;
};

struct FitOptions {
    std::uint32_t channels = 1;
    DrumChoice drums = DrumChoice::Auto;
    std::optional<PartChoice> melody;  // the part that carries the tune, where the user says
    std::uint32_t arpeggio = 0;        // driver ticks an arpeggio's step; 0: no arpeggios
    std::uint32_t frequency = 60;      // the driver's ticks a second, for the arpeggios
};

enum class Role : std::uint8_t { Melody, Bass, Drums, Harmony };

// Where the Melody channel's line comes from.
enum class TuneFrom : std::uint8_t {
    Skyline,  // the highest notes of every pitched part: no part plays the tune alone
    Asked,    // the part FitOptions::melody gives
    Named,    // the parts whose track or instrument name says they carry it
    Heard,    // the part that sounds like the tune
};

struct TuneChoice {
    TuneFrom from = TuneFrom::Skyline;
    std::vector<std::uint32_t> parts;  // the lead's, as ChannelFit::parts
    std::uint32_t through = 0;         // per cent of the song its phrases span
};

// A note as a channel plays it: a note of the source, ended at `end` (earlier
// than in the source when cut short). Ticks as wide as the song needs: 32
// bits where they fit, as they nearly always do.
template <typename Tick>
struct BasicFitNote {
    Tick start = 0;
    Tick end = 0;
    std::uint8_t key = 0;
    std::uint8_t velocity = 0;
};

template <typename Tick>
using FitNotes = LargeVector<BasicFitNote<Tick>>;

struct FitChannel {
    Role role = Role::Harmony;
    std::uint32_t number = 0;      // of its role: Harmony 1, 2, ...; 0 for the others
    std::uint8_t midiChannel = 0;  // its main part's, or 9 for drums
    std::uint32_t mainPart = 0;    // the part that gives it most notes
    // By start, none overlapping; one of the two widths.
    std::variant<FitNotes<std::uint32_t>, FitNotes<std::uint64_t>> notes;
    std::uint64_t noteCount = 0;          // its notes, also once `notes` is let go
    std::vector<std::uint64_t> fromPart;  // notes per part, as ChannelFit::parts
    std::uint64_t cutShort = 0;
    std::uint64_t arpeggiated = 0;  // notes played as an arpeggio (a harmony channel's)
    std::uint64_t steps = 0;        // the arpeggios' steps
};

// A channel event that is no note: program, control, pressure, pitch bend.
struct ChannelEvent {
    std::uint64_t tick = 0;
    std::uint8_t status = 0;
    std::uint8_t data1 = 0;
    std::uint8_t data2 = 0;
};

// An event of no channel (meta, system exclusive, system), at its tick; the
// data of a meta or system exclusive event in SongRest::data.
struct TimedEvent {
    std::uint64_t tick = 0;
    EventKind kind = EventKind::System;
    std::uint8_t status = 0;
    std::uint8_t metaType = 0;
    std::uint32_t length = 0;
    std::size_t at = 0;       // where its data begins in SongRest::data
    std::uint32_t tempo = 0;  // a tempo's, as the reader reads it
};

// What a fitted song keeps of the source besides its notes, read with them,
// so that the source can be let go once read.
struct SongRest {
    std::uint16_t division = 0;
    std::vector<std::array<std::vector<ChannelEvent>, 16>> events;  // per track and MIDI channel
    std::vector<TimedEvent> others;  // by track, then as they come; no track name after track 0
    std::vector<std::uint8_t> data;  // the data of the meta and system exclusive events
    std::uint64_t endTick = 0;       // where the last track ends
};

struct ChannelFit {
    std::vector<SourcePart> parts;     // every part with notes, by track and channel
    std::vector<FitChannel> channels;  // those with notes, most important first
    std::uint64_t notes = 0;           // in the song
    std::uint64_t keptWhole = 0;
    std::uint64_t cutShort = 0;
    std::uint64_t arpeggiated = 0;  // played as an arpeggio, neither whole nor cut short
    std::uint32_t arpeggio = 0;     // driver ticks a step, as asked; 0: none asked
    bool arpeggios = false;         // the harmony channels play arpeggios
    std::uint64_t most = 0;  // the most notes the channels can hold whole, as the roles let in
    TuneChoice tune;
    SongRest rest;  // let go once the fitted song is built
};

// The role's name as a track and the console give it: "Melody", "Harmony 2".
std::string roleName(const FitChannel& channel);

// Fits the notes of `song` (format 0 or 1) to `options.channels` channels.
// The song is let go once read, before the fit's own arrays grow: the fit
// keeps what it needs of it. False with `error` set (the text after
// "ERROR- ") where a track's ticks run past 64 bits, where the part
// `options.melody` asks for has no pitched note, or where the arpeggios need
// more slices than kMostSlices.
bool fitChannels(std::unique_ptr<Song> song, const FitOptions& options, ChannelFit& fit,
                 std::string& error);

}  // namespace mid2nolt
