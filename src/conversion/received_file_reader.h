#pragma once

#include <functional>

#include "conversion/entry_type.h"
#include "platform/platform.h"

namespace vorlund {

using RecordReceiver = std::function<void(entrytype&&)>;

// Cuts the opened X.DAT into lines and hands each line's record to
// `receiver`, in file order. The data end at the first line without a ';',
// at a NUL byte, at a line longer than 1,022 bytes of text, or at a last line
// without its LF. Memory stays constant whatever the file's size.
void ReadReceivedFile(InputFile& file, char decimalSeparator, const RecordReceiver& receiver);

}  // namespace vorlund
