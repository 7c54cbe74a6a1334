// mid2nolt-arrange: rewrites a Standard MIDI File into monophonic voice
// tracks that carry the file's tempo map, for conversion into NOLT Scripts.

#include "cli/process.h"

int main(int argc, char** argv) {
    return mid2nolt::cli::runProgram(mid2nolt::cli::arrangeProgram, argc, argv);
}
