#pragma once

#include <string>

#include "conversion/extended.h"

namespace vorlund {

// One article record: one line of X.DAT.
struct entrytype {
    std::string code;  // trimmed and upper-cased, code page 1252
    Extended quantity = 0;
};

}  // namespace vorlund
