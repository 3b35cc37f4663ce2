#include "delivery/kept_delivery.h"

#include "platform/date_time_text.h"

namespace vorlund {
namespace {

// Enough for every failed delivery of one second many times over.
constexpr int kMostNamesPerSecond = 1000;

}  // namespace

Result<std::string> ChooseKeptPath(const ServiceSettings& settings, const Platform& platform,
                                   std::string_view reason) {
    const char separator = platform.PathSeparator();
    const std::string folder = settings.SpoolDir + separator + kKeptFolder;
    if (!platform.IsDirectory(folder)) {
        // Another program may have made it meanwhile.
        if (Status made = platform.MakeDirectory(folder); !made && !platform.IsDirectory(folder)) {
            return Failure{folder + ": " + made.reason()};
        }
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
        if (!platform.FileExists(path) && !platform.IsDirectory(path)) {
            return path;
        }
    }
    return Failure{stem + ".DAT: every name of this second is taken"};
}

}  // namespace vorlund
