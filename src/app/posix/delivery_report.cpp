#include "app/posix/delivery_report.h"

#include <chrono>
#include <string>

#include "conversion/convert_received_file.h"

namespace vorlund {
namespace {

constexpr char kDeliveryConverted[] = "Leverans mottagen";
constexpr char kLatestDelivery[] = "Senaste leverans";

std::string TwoDigits(unsigned value) {
    return std::string(1, static_cast<char>('0' + value / 10 % 10)) +
           static_cast<char>('0' + value % 10);
}

// "2024-03-01 14:05:09"
std::string TimeText(const LocalDateTime& time) {
    return std::to_string(time.year) + "-" + TwoDigits(time.month) + "-" + TwoDigits(time.day) +
           " " + TwoDigits(time.hour) + ":" + TwoDigits(time.minute) + ":" + TwoDigits(time.second);
}

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
        journal.SetStatus(std::string(kLatestDelivery) + " " + TimeText(platform.LocalTime()),
                          records + ", " + report.exportPath);
        return result;
    };
}

}  // namespace vorlund
