// What the main window needs of the deliveries: each one announced is settled
// (exported, or else kept) and the outcome shown as the cycle shows it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "conversion/convert_received_file.h"

namespace vorlund {

struct Settlement {
    enum class Kind {
        kExported,
        kKept,           // the conversion failed; the delivery is kept
        kNothingToKeep,  // the conversion failed and there was no X.DAT
        kNotKept,        // the conversion failed, and keeping it failed too
    };
    Kind kind = Kind::kExported;
    // "0", or why the conversion failed: its result, or "E" for a run that
    // ended in an error.
    std::string result = "0";
    ConversionReport report;
    std::string keptPath;  // kKept
    // For the operator, on a failure: what failed and the system's reason.
    std::string detail;
    std::uint64_t bytes = 0;
    // From the delivery's arrival to its export on disk.
    std::int64_t tookMs = 0;
};

class DeliverySettler {
  public:
    virtual ~DeliverySettler() = default;
    // The delivery that has just arrived in X.DAT.
    virtual Settlement SettleArrival() = 0;
    // At start-up, before the first reception: a delivery that a crash or
    // power cut left recorded but neither exported nor kept.
    virtual std::optional<Settlement> SettleLeftOver() = 0;
    // What follows a delivery that is neither exported nor kept: the next
    // transfer is refused until it is (true), or the next delivery replaces
    // it in X.DAT (false). Its message says which.
    virtual bool RefusesNextWhileUnsettled() const { return false; }
};

}  // namespace vorlund
