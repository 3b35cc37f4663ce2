// What waits for an operator in an application directory: each kept
// delivery in Spool/Okonverterade (whose conversion failed, or an X.DAT that
// was never recorded arriving), and a delivery in X.DAT that is neither
// exported nor kept. Worked out from the folder and the ledger's records and
// changing nothing, so that it may be read beside the running service.
//
// The folder is what counts: a kept file is a delivery that has not reached
// the stock system, whether or not the ledger still has its record (versions
// before this one forgot the records of their kept deliveries).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "delivery/delivery_ledger.h"
#include "platform/platform.h"
#include "settings/service_settings.h"

namespace vorlund {

struct WaitingDelivery {
    std::string path;   // the kept file, or X.DAT
    std::string since;  // when it arrived (or was kept), local time: "2027-01-01 12:00:00"
    std::string name;   // the sender's file name, when it had one
    std::string protocol;  // as the ledger has it ("zmodem"); empty when not recorded
    std::optional<std::uint64_t> bytes;
    std::uint64_t number = 0;  // in the ledger; 0 when the ledger has no record of it
    // Why it was kept: the conversion's result as the kept file's name has
    // it ("50", "E", "U"); empty for a delivery neither exported nor kept.
    std::string result;
    std::string why;  // what failed, where the ledger recorded it
};

// The kept files, oldest first (their names begin with the time).
std::vector<std::string> KeptFiles(const ServiceSettings& settings, const Platform& platform);

// The record that names the kept file `path`: kept as it, or being
// exported from it by an operator. None when the ledger has none.
const DeliveryRecord* RecordOfKeptFile(const DeliveryLedger& ledger, const std::string& path);

// Everything that waits, X.DAT's delivery first, then the kept files.
std::vector<WaitingDelivery> ListWaiting(const ServiceSettings& settings, const Platform& platform,
                                         const DeliveryLedger& ledger);

// How many wait, without reading any of them.
std::size_t CountWaiting(const ServiceSettings& settings, const Platform& platform,
                         const DeliveryLedger& ledger);

// The latest delivery, when X.DAT holds it and it is neither exported nor
// kept (nor on its way to be).
const DeliveryRecord* UnsettledLatest(const DeliveryLedger& ledger);

// The result a kept file's name gives as why it was kept ("50" of
// 20270101-120000-50-2.DAT); empty for a name of another form.
std::string KeptResultOf(std::string_view fileName);

// In words, for an operator: "the export could not be created" for "50".
std::string KeptReasonText(std::string_view result);

}  // namespace vorlund
