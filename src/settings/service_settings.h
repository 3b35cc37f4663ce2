// The values the service establishes once at start-up and never changes.
#pragma once

#include <cstdint>
#include <string>

namespace vorlund {

struct ServiceSettings {
    std::string AppDir;    // ends in exactly one path separator
    std::string SpoolDir;  // AppDir + "Spool"
    std::string OutDir;    // no trailing separator
    std::string OutFile;   // as written; may be empty
    bool UseOutFile = false;
    std::int32_t ComPortIndex = 0;
    std::int32_t BaudRateIndex = 5;
    bool UseQuotes = false;
    std::int32_t Separator = 0;  // 0 ',', 1 ';', 2 TAB, anything else: none
    bool Aggregation = true;
};

// The rate for a BaudRateIndex. Only 0 to 5 name a rate; any other index
// gets the default's 115,200 bit/s rather than a value the line cannot take.
std::int32_t BaudRateFromIndex(std::int32_t index);

}  // namespace vorlund
