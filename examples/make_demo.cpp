// Writes examples/demo.mid: a short format-1 song made for this project, with a
// tempo change, three-four time, text events and three channels, one of them
// written with running status as sequencers do.

#include <cstdio>

#include "support/smf_builder.h"

int main(int argc, char** argv) {
    const char* path = argc > 1 ? argv[1] : "demo.mid";
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

    const smf::Bytes bytes = smf::file(1, 96, {conductor, melody, rhythm});
    std::FILE* out = std::fopen(path, "wb");
    if (out == nullptr || std::fwrite(bytes.data(), 1, bytes.size(), out) != bytes.size()) {
        std::perror(path);
        return 1;
    }
    return std::fclose(out) == 0 ? 0 : 1;
}
