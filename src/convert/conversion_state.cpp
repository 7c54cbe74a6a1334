#include "convert/conversion_state.h"

namespace mid2nolt {

ConversionState conversionState;

void resetMusicalContext() {
    conversionState.tempo = kDefaultTempo;
    conversionState.beatsPerBar = kDefaultBeatsPerBar;
    conversionState.beatUnit = kDefaultBeatUnit;
}

}  // namespace mid2nolt
