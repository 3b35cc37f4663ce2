// The hand-off of a delivery from the line to the stock system, on both
// programs: what arrives is recorded in the ledger before anything depends
// on it, converted once, and either exported or kept; a crash or power cut at
// any instant is picked up at the next start from what the ledger says.
//
// On Linux the service receives the file itself: its bytes go to a staged
// file as they arrive, and at the end of the transfer the delivery is
// recorded (the commit), then moved into place as X.DAT, and only then is
// the sender told it has arrived. On Windows the control writes X.DAT, and
// the delivery is recorded when the control announces it.
//
// One delivery at a time: while X.DAT holds one that is neither exported nor
// kept, no new transfer is taken (Linux), so nothing can replace it.
//
// A repeat is a transfer the terminal may be sending again because it may not
// know that an earlier one arrived: the same header and bytes as a delivery
// of a batch that its sender never ended (the line dropped at the end, the
// sender gave up or was pulled out, a later file failed). It is acknowledged,
// and not exported a second time, however much later it comes and whatever
// the clock did meanwhile. A batch that ended (its sender went on past the
// end of its last file) is settled: the same header and bytes again are a new
// delivery. Windows has no repeats: the control, not Vorlund, speaks to the
// terminal, and every delivery it announces is exported.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/result.h"
#include "conversion/convert_received_file.h"
#include "delivery/delivery_ledger.h"
#include "delivery/delivery_observer.h"
#include "delivery/delivery_settler.h"
#include "delivery/incoming_delivery.h"
#include "platform/platform.h"
#include "settings/service_settings.h"

namespace vorlund {

class DeliveryHandOff final : public DeliverySettler {
  public:
    // The most repeat candidates the ledger keeps, the newest: counted, not
    // timed, since a terminal may be docked again hours later and the clock
    // of a box without a hardware clock may be hours off. Candidates come only
    // of batches that did not end; this many outlast weeks of a bad line.
    static constexpr std::size_t kMostCandidates = 1000;
    // A ledger grown by this many lines is written anew without what it no
    // longer needs.
    static constexpr std::size_t kPruneAfter = 256;

    // Who writes X.DAT: the control (Windows), whose next delivery replaces
    // an unsettled one whatever the hand-off does, or the hand-off itself,
    // from the transfers it takes (Linux), which it refuses while one is
    // unsettled.
    enum class Writer { kControl, kHandOff };

    // Opens the ledger in SpoolDir and finishes whatever a crash or power cut
    // interrupted: a staged file is moved into place, an export or a kept
    // file whose record was written is completed. An X.DAT the ledger never
    // saw (a write that did not finish) is kept, never converted; at the
    // first start with a ledger, X.DAT is taken as handled before. What is
    // still to be converted waits for SettleLeftOver.
    static Result<std::unique_ptr<DeliveryHandOff>> Open(const ServiceSettings& settings,
                                                         const Platform& platform,
                                                         char decimalSeparator,
                                                         DeliveryObserver& observer,
                                                         Writer writer = Writer::kControl);

    // DeliverySettler.
    Settlement SettleArrival() override;
    std::optional<Settlement> SettleLeftOver() override;
    bool RefusesNextWhileUnsettled() const override { return writer_ == Writer::kHandOff; }

    // Linux: a transfer is starting. Refused (with the reason) while X.DAT
    // holds a delivery that neither export nor keep has taken, after one more
    // try at settling it. `continuesBatch`: its sender went on to it from the
    // end of the transfer before, which it must therefore have heard; any
    // other transfer begins a batch of its own.
    Result<IncomingDelivery> BeginReceiving(bool continuesBatch);

    enum class Verdict {
        kStored,    // recorded and in place as X.DAT: the sender may be told
        kRepeated,  // the same as a recent delivery: told, not converted again
    };
    // Linux: the transfer has ended with every byte in. A failure means that
    // nothing was recorded, and the sender must not be told it arrived.
    // `protocol`: the line protocol that carried it, as the ledger names it.
    // A delivery the same as one delivered earlier in this batch is a
    // delivery of its own (a terminal may send two identical counts at once);
    // only one of another batch can be what this one repeats.
    Result<Verdict> Commit(IncomingDelivery incoming, const std::optional<DeliveryHeader>& header,
                           std::string_view protocol = {});
    // Linux: the sender ended its batch, so it heard the end of each of its
    // transfers: none of them is a repeat candidate any more.
    void EndBatch();
    // Linux: a batch end from a sender whose transfers this process never
    // took: it can only end the batch that was open when the service went
    // down, and only while no transfer has begun since.
    void EndBatchOpenAtStart();
    // Linux: the deliveries of batch `number` stop being candidates, whatever
    // transfers came since (an XMODEM sender that stopped repeating its end).
    void EndBatch(std::uint64_t number);
    // The batch the latest transfer began, or continued; 0 before any.
    std::uint64_t CurrentBatch() const { return batchNumber_; }
    // The protocol of the latest delivery of the batch that was open when the
    // service went down, while no transfer has begun since: its sender may
    // still wait for an answer. Empty otherwise.
    std::string ProtocolOpenAtStart() const;
    // The service went down in the middle of a transfer (its staged file was
    // left): its sender may still wait for an answer, or send on.
    bool TransferCutAtStart() const { return transferCutAtStart_; }

    const DeliveryLedger& Ledger() const { return ledger_; }

    // What an operator's settlement made of one delivery that waited.
    struct OperatorSettlement {
        std::string path;  // the kept file, or X.DAT
        bool exported = false;
        std::string exportPath;  // exported: on disk and recorded
        // Otherwise: the conversion's result ("50"), and what failed and why.
        std::string result;
        std::string detail;
        // Not tried: a kept X.DAT that was never recorded arriving may be a
        // write that did not finish, and is settled only when named.
        bool skipped = false;
    };
    // Settles what waits for an operator once the fault is put right, under
    // the service's rules: X.DAT's delivery when it is neither exported nor
    // kept, then each kept file, oldest first (or only the kept file named
    // `only`, by its path or name; a kept X.DAT that was never recorded
    // arriving only so). A kept file's export is written, put on
    // disk and recorded before the kept file is removed, so that a crash at
    // any step leaves the kept file or its export, never neither and never
    // two exports. With a fixed OutFile, a kept file is exported only while
    // no export of that name is there, one at a time: the importer must
    // take each before the next replaces it.
    std::vector<OperatorSettlement> SettleWaiting(const std::string& only = {});
    // How many deliveries wait for an operator (see waiting_deliveries.h).
    std::size_t WaitingCount() const;

  private:
    DeliveryHandOff(const ServiceSettings& settings, const Platform& platform,
                    char decimalSeparator, DeliveryObserver& observer, DeliveryLedger ledger);

    // Start-up: brings each unsettled delivery as far as its record allows.
    void Recover();
    void RecoverUnknownReceivedFile();
    void RemoveStaleStagedFiles();
    void RestoreOpenBatch();
    void PruneLedger();

    Settlement Settle(DeliveryRecord record);
    OperatorSettlement SettleKeptFile(const std::string& path);
    // An operator's export of a kept file that was cut short (`record`
    // names the kept file): its export moved into place, or known to be,
    // and the kept file removed. False when the export cannot be finished
    // yet; the kept file then stays.
    bool FinishKeptExport(DeliveryRecord& record, std::string& failure);
    // The observer hears how many wait now.
    void TellWaiting();
    // Exports the delivery in X.DAT and records where; empty, or why it
    // failed: the conversion's result.
    std::string Export(DeliveryRecord& record, ConversionReport& report);
    // Keeps the delivery in X.DAT after a failure (`settlement` says which)
    // and records where.
    void Keep(DeliveryRecord& record, Settlement& settlement);
    // Writes the record; a failure is reported to the observer and returned.
    Status Record(const DeliveryRecord& record);
    const DeliveryRecord* FindRepeat(const DeliveryHeader& header, const std::string& digest,
                                     std::uint64_t bytes) const;
    // Ends the candidacy of the deliveries numbered in `numbers`.
    void EndCandidacy(const std::vector<std::uint64_t>& numbers);
    // Whether X.DAT is the file that `record` says it holds.
    bool HoldsReceivedFile(const DeliveryRecord& record) const;
    // The SHA-256 and size of a file, read through.
    Result<std::pair<std::string, std::uint64_t>> Digest(const std::string& path) const;
    std::string ReceivedPath() const { return ReceivedFilePath(settings_, platform_); }
    std::string LedgerPath() const;

    const ServiceSettings settings_;
    const Platform& platform_;
    const char decimalSeparator_;
    DeliveryObserver& observer_;
    Writer writer_ = Writer::kControl;
    DeliveryLedger ledger_;
    // The delivery this process committed last, whose arrival comes next.
    std::optional<std::uint64_t> committed_;
    // The batch on the line and its deliveries: after a restart, the newest
    // batch whose deliveries are still candidates, which the sender may yet
    // end; none once another transfer begins.
    std::uint64_t batchNumber_ = 0;
    std::vector<std::uint64_t> batch_;
    // batch_ is the batch that was open when the service went down: no
    // transfer has begun since.
    bool batchOpenAtStart_ = false;
    bool transferCutAtStart_ = false;
};

}  // namespace vorlund
