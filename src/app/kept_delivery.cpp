#include "app/kept_delivery.h"

namespace vorlund {
namespace {

// Enough for every failed delivery of one second many times over.
constexpr int kMostNamesPerSecond = 1000;

std::string TwoDigits(unsigned value) {
    return {static_cast<char>('0' + value / 10 % 10), static_cast<char>('0' + value % 10)};
}

std::string TimeStamp(const LocalDateTime& time) {
    return std::to_string(time.year) + TwoDigits(time.month) + TwoDigits(time.day) + "-" +
           TwoDigits(time.hour) + TwoDigits(time.minute) + TwoDigits(time.second);
}

}  // namespace

KeepResult KeepFailedDelivery(const ServiceSettings& settings, const Platform& platform,
                              std::string_view reason, std::string* keptPath) {
    const char separator = platform.PathSeparator();
    const std::string received = settings.SpoolDir + separator + "X.DAT";
    if (!platform.FileExists(received)) {
        return KeepResult::kNothingToKeep;
    }
    const std::string folder = settings.SpoolDir + separator + kKeptFolder;
    if (!platform.IsDirectory(folder) && !platform.MakeDirectory(folder) &&
        !platform.IsDirectory(folder)) {
        return KeepResult::kNotKept;
    }
    std::string stem = folder;
    stem += separator;
    stem += TimeStamp(platform.LocalTime());
    stem += '-';
    stem += reason;
    for (int number = 1; number <= kMostNamesPerSecond; ++number) {
        std::string path = stem;
        if (number > 1) {
            path += '-';
            path += std::to_string(number);
        }
        path += ".DAT";
        if (platform.FileExists(path) || platform.IsDirectory(path)) {
            continue;
        }
        if (!platform.CopyToNewFile(received, path)) {
            // Taken meanwhile, or the copy failed for good.
            if (platform.FileExists(path)) {
                continue;
            }
            return KeepResult::kNotKept;
        }
        if (keptPath) {
            *keptPath = path;
        }
        return KeepResult::kKept;
    }
    return KeepResult::kNotKept;
}

}  // namespace vorlund
