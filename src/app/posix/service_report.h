// What the Linux service tells its operator and its service manager about
// deliveries, transfers and the line, beyond the cycle's own messages: one
// journal line each, and the state line the service manager shows.
#pragma once

#include <cstdint>
#include <string>

#include "app/posix/journal.h"
#include "delivery/delivery_observer.h"
#include "download/download_observer.h"
#include "download/protocol_receiver.h"
#include "platform/platform.h"
#include "platform/posix/service_manager.h"

namespace vorlund {

class ServiceReport final : public DeliveryObserver, public DownloadObserver {
  public:
    // `largestFile`: the largest file a transfer may bring, for the reason
    // of one refused as larger (a limit of the process, when it is lower
    // than the service's own).
    ServiceReport(Journal& journal, ServiceManager& manager, const Platform& platform,
                  std::uint64_t largestFile = kLargestTransfer)
        : journal_(journal), manager_(manager), platform_(platform), largestFile_(largestFile) {}

    // DeliveryObserver
    void Settled(const DeliveryRecord& record, const Settlement& settlement) override;
    void Repeated(const DeliveryRecord& record) override;
    void Recovered(const DeliveryRecord& record, std::string_view what) override;
    void LedgerFailed(std::string_view what) override;
    void LedgerDamaged(std::string_view what) override;

    // DownloadObserver
    void TransferEnded(const TransferOutcome& outcome) override;
    void ReceptionStarted() override;
    void LineBack(std::string_view device) override;

  private:
    Journal& journal_;
    ServiceManager& manager_;
    const Platform& platform_;
    const std::uint64_t largestFile_;
    bool ready_ = false;
};

}  // namespace vorlund
