#pragma once

namespace vorlund {

// The outcome of one conversion run; every value but 0 is a failure.
enum ConversionResult : int {
    kConverted = 0,
    kNoReceivedFile = 1,
    kReceivedFileNotOpened = 2,
    kExportNotCreated = 50,
    kWriteFailedInArrivalOrder = 51,
    kWriteFailedInCodeOrder = 52,
};

}  // namespace vorlund
