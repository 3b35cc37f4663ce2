#include "app/posix/delivery_report.h"

#include <chrono>
#include <string>

#include "conversion/convert_received_file.h"
#include "platform/date_time_text.h"

namespace vorlund {
namespace {

constexpr char kDeliveryConverted[] = "Leverans mottagen";
constexpr char kLatestDelivery[] = "Senaste leverans";

}  // namespace

ReceivedFileConverter ReportingConverter(const ServiceSettings& settings, const Platform& platform,
                                         char decimalSeparator, const SerialNetoCtl& netoCtl,
                                         Journal& journal) {
    return [&settings, &platform, decimalSeparator, &netoCtl, &journal] {
        ConversionReport report;
        const ConversionResult result =
            ConvertReceivedFile(settings, platform, decimalSeparator, &report);
        if (result != kConverted) {
            journal.SetPendingDetail(report.errorText.empty()
                                         ? report.failedPath
                                         : report.failedPath + ": " + report.errorText);
            return result;
        }
        const SerialNetoCtl::Arrival& arrival = netoCtl.LastArrival();
        const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(
            EventLoop::Clock::now() - arrival.started);
        const std::string records = std::to_string(report.records) + " poster";
        journal.Write(Priority::kInfo, kDeliveryConverted,
                      std::to_string(arrival.bytes) + " byte, " + records + ", " +
                          std::to_string(report.exportLines) + " rader till " + report.exportPath +
                          ", " + std::to_string(took.count()) + " ms");
        journal.SetStatus(
            std::string(kLatestDelivery) + " " + DateTimeText(platform.LocalTime(), "-", " ", ":"),
            records + ", " + report.exportPath);
        return result;
    };
}

}  // namespace vorlund
