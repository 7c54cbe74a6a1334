// Console texts that more than one part of the programs prints, each defined
// once. They are the programs' own words, spelling included.
#pragma once

namespace mid2nolt::messages {

constexpr const char* kCantOpenSource = "ERROR- Can't Open Source File: ";
constexpr const char* kUnexpectedEnd = "ERROR- Unexptected End of Source Data\n";
constexpr const char* kOutOfMemory = "ERROR- Out of Memory\n";
constexpr const char* kReadingSource = "Reading MIDI Source File : ";
constexpr const char* kTrackTooLong = " is longer than 2^64 ticks";  // after "Track <n>"
constexpr const char* kDone = "Done!\n";
constexpr const char* kCopyright = "Copyright (c) 2026 the mid2nolt developers, MIT License\n";

}  // namespace mid2nolt::messages
