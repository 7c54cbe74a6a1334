#pragma once

// Songs from bytes and back, and what tests read of an arranged song.

#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "arrange/arranger.h"
#include "midi/notes.h"
#include "midi/song.h"

namespace testing_support {

// The song `bytes` hold, loaded as the programs load a file (a failure to
// load fails the test).
std::unique_ptr<mid2nolt::Song> loadBytes(const mid2nolt::Bytes& bytes);
// The file with every track and instrument name made a plain text event, as
// most files come: the same bytes but for each name's meta type.
mid2nolt::Bytes withoutNames(mid2nolt::Bytes bytes);
// The bytes of the file an arrangement makes.
mid2nolt::Bytes fileBytes(const mid2nolt::Arrangement& arrangement);
// The bytes of a song's tracks as they stand (a fit's, before it is arranged).
mid2nolt::Bytes fileBytes(const mid2nolt::SongSource& song);
// Every note of a song, sorted.
std::vector<mid2nolt::Note> allNotes(const mid2nolt::Song& song);
// The first pair of notes of a track (sorted) that sound at once, if any.
std::string overlap(const std::vector<mid2nolt::Note>& notes);

// The notes of each track, and the text of its first track name.
struct Voice {
    std::string name;
    std::vector<mid2nolt::Note> notes;
    bool operator==(const Voice&) const = default;
};
void PrintTo(const Voice& voice, std::ostream* os);
std::vector<Voice> voicesOf(const mid2nolt::Song& song);

}  // namespace testing_support
