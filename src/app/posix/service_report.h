// What the Linux service tells its operator and its service manager about
// deliveries, transfers and the line, beyond the cycle's own messages: one
// journal line each, and the state line the service manager shows.
#pragma once

#include <string>

#include "app/posix/journal.h"
#include "delivery/delivery_observer.h"
#include "download/download_observer.h"
#include "platform/platform.h"
#include "platform/posix/service_manager.h"

namespace vorlund {

class ServiceReport final : public DeliveryObserver, public DownloadObserver {
  public:
    ServiceReport(Journal& journal, ServiceManager& manager, const Platform& platform)
        : journal_(journal), manager_(manager), platform_(platform) {}

    // DeliveryObserver
    void Settled(const DeliveryRecord& record, const Settlement& settlement) override;
    void Repeated(const DeliveryRecord& record) override;
    void Recovered(const DeliveryRecord& record, std::string_view what) override;
    void LedgerFailed(std::string_view what) override;
    void LedgerDamaged(std::string_view what) override;

    // DownloadObserver
    void TransferEnded(const YmodemReceiver::Outcome& outcome) override;
    void ReceptionStarted() override;
    void LineBack(std::string_view device) override;

  private:
    Journal& journal_;
    ServiceManager& manager_;
    const Platform& platform_;
    bool ready_ = false;
};

}  // namespace vorlund
