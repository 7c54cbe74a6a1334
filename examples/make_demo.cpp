// Writes the bundled examples, songs made for this project:
// examples/demo.mid, a short format-1 song with a tempo change, three-four
// time, text events and three channels, one of them written with running
// status as sequencers do; and examples/chords.mid, a tune over a bass and
// held piano chords, for fitting to few channels with arpeggios.

#include <cstdint>
#include <cstdio>

#include "support/smf_builder.h"

namespace {

bool save(const smf::Bytes& bytes, const char* path) {
    std::FILE* out = std::fopen(path, "wb");
    if (out == nullptr || std::fwrite(bytes.data(), 1, bytes.size(), out) != bytes.size()) {
        std::perror(path);
        if (out != nullptr) {
            std::fclose(out);
        }
        return false;
    }
    return std::fclose(out) == 0;
}

smf::Bytes demo() {
    smf::Track conductor;
    conductor.text(0, 3, "Demo Waltz")
        .tempo(0, 500000)
        .timeSignature(0, 3, 2)
        .tempo(576, 400000)
        .end(576);

    // Melody on channel 0: note-ons with running status, note-offs as velocity 0.
    smf::Track melody;
    melody.text(0, 3, "Melody").event(0, 0xC0, {73}).noteOn(0, 0, 72, 96);
    const int keys[] = {74, 76, 77, 79, 77, 76, 74, 72};
    int previous = 72;
    for (int key : keys) {
        melody.raw(smf::vlq(120)).raw({previous, 0}).raw(smf::vlq(24)).raw({key, 96});
        previous = key;
    }
    melody.raw(smf::vlq(144)).raw({previous, 0}).end();

    // Bass on channel 1 and a hi-hat on channel 9, one track.
    smf::Track rhythm;
    rhythm.text(0, 3, "Rhythm");
    for (int bar = 0; bar < 4; ++bar) {
        const int root = bar % 2 == 0 ? 48 : 43;
        rhythm.noteOn(0, 1, root, 100).noteOn(0, 9, 42, 80).noteOff(96, 9, 42);
        rhythm.noteOn(0, 9, 42, 60)
            .noteOff(96, 9, 42)
            .noteOn(0, 9, 42, 60)
            .noteOff(96, 9, 42)
            .noteOff(0, 1, root);
    }
    rhythm.end();

    return smf::file(1, 96, {conductor, melody, rhythm});
}

// Four bars of 4/4 at 96 ticks a quarter: C, A minor, F and G, each chord
// held a bar on the piano under a flute's tune and a bass's half notes.
smf::Bytes chords() {
    smf::Track conductor;
    conductor.text(0, 3, "Chord Study").tempo(0, 500000).timeSignature(0, 4, 2).end(1536);
    const int triads[4][3] = {{55, 60, 64}, {57, 60, 64}, {57, 60, 65}, {55, 59, 62}};
    const int roots[4] = {36, 45, 41, 43};
    const int tune[14][2] = {{72, 96}, {74, 96},  {76, 192}, {76, 144}, {74, 48},
                             {72, 96}, {69, 96},  {72, 96},  {77, 96},  {76, 96},
                             {74, 96}, {74, 192}, {71, 96},  {67, 96}};
    smf::Track flute;
    flute.text(0, 3, "Flute").event(0, 0xC0, {73});
    for (const auto& [key, length] : tune) {
        flute.noteOn(0, 0, key, 100).noteOff(static_cast<std::uint64_t>(length), 0, key);
    }
    flute.end();
    smf::Track bass;
    bass.text(0, 3, "Bass").event(0, 0xC1, {33});
    smf::Track piano;
    piano.text(0, 3, "Piano").event(0, 0xC2, {0});
    for (int bar = 0; bar < 4; ++bar) {
        bass.noteOn(0, 1, roots[bar], 100).noteOff(192, 1, roots[bar]);
        bass.noteOn(0, 1, roots[bar] + 7, 100).noteOff(192, 1, roots[bar] + 7);
        for (const int key : triads[bar]) {
            piano.noteOn(0, 2, key, 70);
        }
        piano.noteOff(384, 2, triads[bar][0])
            .noteOff(0, 2, triads[bar][1])
            .noteOff(0, 2, triads[bar][2]);
    }
    bass.end();
    piano.end();
    return smf::file(1, 96, {conductor, flute, bass, piano});
}

}  // namespace

// make_demo [demo.mid [chords.mid]]
int main(int argc, char** argv) {
    return save(demo(), argc > 1 ? argv[1] : "demo.mid") &&
                   save(chords(), argc > 2 ? argv[2] : "chords.mid")
               ? 0
               : 1;
}
