// What an operator may want to hear of the deliveries beyond the cycle's own
// messages. The Linux service writes it to its journal; the Windows program,
// whose only voice is its boxes, listens to none of it.
#pragma once

#include <cstddef>
#include <string_view>

#include "delivery/delivery_record.h"
#include "delivery/delivery_settler.h"

namespace vorlund {

class DeliveryObserver {
  public:
    virtual ~DeliveryObserver() = default;
    virtual void Settled(const DeliveryRecord&, const Settlement&) {}
    // A delivery arrived again from a terminal that may not have known it
    // had arrived: acknowledged, not converted again.
    virtual void Repeated(const DeliveryRecord&) {}
    // Start-up finished something a crash interrupted, or kept an X.DAT that
    // was never recorded; `what` says which.
    virtual void Recovered(const DeliveryRecord&, std::string_view /*what*/) {}
    // The ledger could not be written or read; `what` says which file and why.
    virtual void LedgerFailed(std::string_view /*what*/) {}
    // A damaged line with whole lines after it was passed over at start-up;
    // `what` names the ledger and the line.
    virtual void LedgerDamaged(std::string_view /*what*/) {}
    // How many deliveries wait for an operator (kept, or neither exported nor
    // kept), whenever that may have changed.
    virtual void Waiting(std::size_t /*count*/) {}
    // An operator settled the kept delivery `keptPath`: its export is
    // record.file, on disk and recorded, and the kept file is gone.
    virtual void SettledByOperator(const DeliveryRecord&, std::string_view /*keptPath*/) {}
    // An operator's settlement of `keptPath` failed; the kept file stays.
    virtual void OperatorSettlementFailed(std::string_view /*keptPath*/,
                                          std::string_view /*detail*/) {}
};

// Listens to nothing.
inline DeliveryObserver& NoDeliveryObserver() {
    static DeliveryObserver none;
    return none;
}

}  // namespace vorlund
