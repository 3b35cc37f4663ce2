#include "app/kept_delivery.h"

#include "platform/date_time_text.h"

namespace vorlund {
namespace {

// Enough for every failed delivery of one second many times over.
constexpr int kMostNamesPerSecond = 1000;

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
    stem += DateTimeText(platform.LocalTime(), "", "-", "");
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
