// mid2nolt: converts a Standard MIDI File into NOLT Scripts.

#include "cli/process.h"

int main(int argc, char** argv) {
    return mid2nolt::cli::runProgram(mid2nolt::cli::convertProgram, argc, argv);
}
