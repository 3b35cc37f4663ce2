#include "delivery/waiting_deliveries.h"

#include <algorithm>

#include "conversion/convert_received_file.h"
#include "delivery/kept_delivery.h"
#include "platform/date_time_text.h"

namespace vorlund {
namespace {

constexpr std::string_view kKeptSuffix = ".DAT";

std::string KeptFolder(const ServiceSettings& settings, const Platform& platform) {
    return settings.SpoolDir + platform.PathSeparator() + kKeptFolder;
}

std::string_view NameOf(std::string_view path) {
    const std::size_t last = path.find_last_of("/\\");
    return last == std::string_view::npos ? path : path.substr(last + 1);
}

// The parts of YYYYMMDD-hhmmss-R[-n].DAT between its dashes.
std::vector<std::string_view> KeptNameParts(std::string_view name) {
    std::vector<std::string_view> parts;
    if (name.size() <= kKeptSuffix.size() ||
        name.substr(name.size() - kKeptSuffix.size()) != kKeptSuffix) {
        return parts;
    }
    name.remove_suffix(kKeptSuffix.size());
    for (std::size_t start = 0;;) {
        const std::size_t dash = name.find('-', start);
        parts.push_back(name.substr(start, dash == std::string_view::npos ? dash : dash - start));
        if (dash == std::string_view::npos) {
            break;
        }
        start = dash + 1;
    }
    const bool digits = parts.size() >= 3 && parts[0].size() == 8 && parts[1].size() == 6 &&
                        parts[0].find_first_not_of("0123456789") == std::string_view::npos &&
                        parts[1].find_first_not_of("0123456789") == std::string_view::npos;
    if (!digits) {
        parts.clear();
    }
    return parts;
}

// "2027-01-01 12:00:00" from a kept file's name.
std::string KeptAt(std::string_view name) {
    const std::vector<std::string_view> parts = KeptNameParts(name);
    if (parts.empty()) {
        return {};
    }
    const std::string_view date = parts[0];
    const std::string_view time = parts[1];
    return std::string(date.substr(0, 4)) + "-" + std::string(date.substr(4, 2)) + "-" +
           std::string(date.substr(6, 2)) + " " + std::string(time.substr(0, 2)) + ":" +
           std::string(time.substr(2, 2)) + ":" + std::string(time.substr(4, 2));
}

std::string ArrivedText(const Platform& platform, const DeliveryRecord& record) {
    if (record.arrived <= 0) {
        return {};
    }
    const std::optional<LocalDateTime> local = platform.LocalTimeAt(record.arrived);
    return local ? DateTimeText(*local, "-", " ", ":") : std::string();
}

std::optional<std::uint64_t> SizeOf(const Platform& platform, const std::string& path) {
    Result<std::unique_ptr<InputFile>> file = platform.OpenForReading(path);
    if (!file) {
        return std::nullopt;
    }
    std::uint64_t bytes = 0;
    char block[64 * 1024];
    for (;;) {
        const std::int64_t count = (*file)->Read(block, sizeof block);
        if (count < 0) {
            return std::nullopt;
        }
        if (count == 0) {
            return bytes;
        }
        bytes += static_cast<std::uint64_t>(count);
    }
}

void Describe(WaitingDelivery& waiting, const Platform& platform, const DeliveryRecord& record) {
    waiting.number = record.keptOnly ? 0 : record.number;
    if (record.header) {
        waiting.name = record.header->name;
    }
    waiting.protocol = record.protocol;
    waiting.bytes = record.bytes;
    waiting.why = record.why;
    if (const std::string arrived = ArrivedText(platform, record); !arrived.empty()) {
        waiting.since = arrived;
    }
}

}  // namespace

std::vector<std::string> KeptFiles(const ServiceSettings& settings, const Platform& platform) {
    const std::string folder = KeptFolder(settings, platform);
    std::vector<std::string> names;
    for (std::string& name : platform.ListDirectory(folder)) {
        // Hidden names are copies still being made.
        if (!name.empty() && name[0] != '.' && name.size() > kKeptSuffix.size() &&
            name.compare(name.size() - kKeptSuffix.size(), kKeptSuffix.size(), kKeptSuffix) == 0) {
            names.push_back(std::move(name));
        }
    }
    std::sort(names.begin(), names.end());
    std::vector<std::string> paths;
    for (const std::string& name : names) {
        const std::string path = folder + platform.PathSeparator() + name;
        if (platform.FileExists(path)) {
            paths.push_back(path);
        }
    }
    return paths;
}

const DeliveryRecord* RecordOfKeptFile(const DeliveryLedger& ledger, const std::string& path) {
    const auto& records = ledger.Records();
    // The newest first: a delivery is kept at most once, but a name may be
    // used again once its file is gone.
    for (auto record = records.rbegin(); record != records.rend(); ++record) {
        if (record->keptFile == path ||
            (record->file == path &&
             (record->state == DeliveryState::kKept || record->state == DeliveryState::kKeeping))) {
            return &*record;
        }
    }
    return nullptr;
}

const DeliveryRecord* UnsettledLatest(const DeliveryLedger& ledger) {
    const DeliveryRecord* latest = ledger.Latest();
    if (!latest || latest->Settled() || !latest->keptFile.empty() ||
        latest->state == DeliveryState::kKeeping) {
        return nullptr;
    }
    return latest;
}

std::vector<WaitingDelivery> ListWaiting(const ServiceSettings& settings, const Platform& platform,
                                         const DeliveryLedger& ledger) {
    std::vector<WaitingDelivery> waiting;
    if (const DeliveryRecord* latest = UnsettledLatest(ledger)) {
        WaitingDelivery& unsettled = waiting.emplace_back();
        unsettled.path = ReceivedFilePath(settings, platform);
        Describe(unsettled, platform, *latest);
    }
    for (const std::string& path : KeptFiles(settings, platform)) {
        WaitingDelivery& kept = waiting.emplace_back();
        kept.path = path;
        kept.since = KeptAt(NameOf(path));
        kept.result = KeptResultOf(NameOf(path));
        if (const DeliveryRecord* record = RecordOfKeptFile(ledger, path)) {
            Describe(kept, platform, *record);
        } else {
            kept.bytes = SizeOf(platform, path);
        }
    }
    return waiting;
}

std::size_t CountWaiting(const ServiceSettings& settings, const Platform& platform,
                         const DeliveryLedger& ledger) {
    return KeptFiles(settings, platform).size() + (UnsettledLatest(ledger) ? 1 : 0);
}

std::string KeptResultOf(std::string_view fileName) {
    const std::vector<std::string_view> parts = KeptNameParts(NameOf(fileName));
    return parts.empty() ? std::string() : std::string(parts[2]);
}

std::string KeptReasonText(std::string_view result) {
    if (result == "1") return "there was no X.DAT";
    if (result == "2") return "X.DAT could not be opened";
    if (result == "50") return "the export could not be created";
    if (result == "51" || result == "52") return "a write to the export failed";
    if (result == "E") return "the conversion ended in an error";
    if (result == "U") {
        return "X.DAT was never recorded arriving, so it may be a write that did not finish: "
               "look at it before settling it";
    }
    if (result.empty()) return "neither exported nor kept";
    return "kept for " + std::string(result);
}

}  // namespace vorlund
