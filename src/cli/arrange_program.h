#pragma once

#include <optional>
#include <string>
#include <vector>

#include "arrange/arranger.h"

namespace mid2nolt::cli {

// What an arranger run did, for the programs that drive it (the browser
// module), so that none of them reads it from the console: what became of
// each part of the source, as the console lists them, and the file written.
struct ArrangeRecord {
    std::vector<PartReport> parts;
    std::optional<std::string> file;
};

extern ArrangeRecord arrangeRecord;

}  // namespace mid2nolt::cli
