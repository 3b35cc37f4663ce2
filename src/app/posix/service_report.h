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

    // What the lines say of the service: its application directory (for
    // the operator's commands), its line and the line's speed.
    struct Service {
        std::string appDir;
        std::string device;
        std::int32_t baudRate = 0;
        std::int32_t baudRateIndex = 0;
    };
    void Describe(Service service) { service_ = std::move(service); }

    // DeliveryObserver
    void Settled(const DeliveryRecord& record, const Settlement& settlement) override;
    void Repeated(const DeliveryRecord& record) override;
    void Recovered(const DeliveryRecord& record, std::string_view what) override;
    void LedgerFailed(std::string_view what) override;
    void LedgerDamaged(std::string_view what) override;
    void Waiting(std::size_t count) override;
    void SettledByOperator(const DeliveryRecord& record, std::string_view keptPath) override;
    void OperatorSettlementFailed(std::string_view keptPath, std::string_view detail) override;

    // DownloadObserver
    void TransferEnded(const TransferOutcome& outcome) override;
    void ReceptionStarted() override;
    void LineBack(std::string_view device) override;
    void UnrecognisedBytes(std::size_t count) override;

  private:
    // ", 3 deliveries wait: ..." for the lines that change what waits.
    std::string WaitingDetail() const;

    Journal& journal_;
    ServiceManager& manager_;
    const Platform& platform_;
    const std::uint64_t largestFile_;
    Service service_;
    bool ready_ = false;
    std::size_t waiting_ = 0;
    RepeatedEvent unrecognised_;
};

}  // namespace vorlund
