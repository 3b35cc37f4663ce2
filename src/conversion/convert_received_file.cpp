#include "conversion/convert_received_file.h"

#include <optional>
#include <string>

#include "conversion/article_table.h"
#include "conversion/export_path.h"
#include "conversion/format_quantity.h"
#include "conversion/line_format.h"
#include "conversion/received_file_reader.h"

namespace vorlund {
namespace {

// Lines are gathered into blocks of about this size before they are written:
// one system call per line would dominate the run.
constexpr std::size_t kWriteBlock = 64 * 1024;
// How many later seconds a time-stamped name may move on before we give up.
constexpr int kMaxNameAttempts = 24 * 60 * 60;

// A time-stamped name never replaces an earlier export: when the name is
// taken, the next second's name is used.
std::optional<std::string> ChooseExportPath(const ServiceSettings& settings,
                                            const Platform& platform) {
    const char separator = platform.PathSeparator();
    if (settings.UseOutFile) {
        return BuildExportPath(settings, {}, separator);
    }
    LocalDateTime time = platform.LocalTime();
    for (int attempt = 0; attempt < kMaxNameAttempts; ++attempt, time = NextSecond(time)) {
        std::string path = BuildExportPath(settings, time, separator);
        if (!platform.FileExists(path) && !platform.IsDirectory(path)) {
            return path;
        }
    }
    return std::nullopt;
}

bool WriteExport(const ArticleTable& table, const ServiceSettings& settings, char decimalSeparator,
                 OutputFile& file, std::uint64_t& lines) {
    const std::string format = BuildLineFormat(settings.UseQuotes, settings.Separator);
    std::string block;
    const bool walked = table.ForEachEntry([&](std::string_view code, Extended quantity) {
        FormatLine(format, code, FormatQuantity(quantity, decimalSeparator), block);
        ++lines;
        if (block.size() < kWriteBlock) {
            return true;
        }
        const bool written = file.Write(block.data(), block.size());
        block.clear();
        return written;
    });
    return walked && (block.empty() || file.Write(block.data(), block.size())) && file.Commit();
}

}  // namespace

ConversionResult ConvertReceivedFile(const ServiceSettings& settings, const Platform& platform,
                                     char decimalSeparator, ConversionReport* report) {
    ConversionReport ignored;
    ConversionReport& out = report ? *report : ignored;
    out = {};
    // The system's text is taken at once, before a clean-up can replace it.
    const auto fail = [&](ConversionResult result, std::string failedPath, bool systemFailed) {
        out.errorText = systemFailed ? platform.LastErrorText() : std::string();
        out.failedPath = std::move(failedPath);
        return result;
    };

    ArticleTable table(settings.Aggregation);
    const std::optional<std::string> path = ChooseExportPath(settings, platform);

    const std::string receivedPath = settings.SpoolDir + platform.PathSeparator() + "X.DAT";
    if (!platform.FileExists(receivedPath)) {
        return fail(kNoReceivedFile, receivedPath, true);
    }
    {
        const std::unique_ptr<InputFile> received = platform.OpenExclusive(receivedPath);
        if (!received) {
            return fail(kReceivedFileNotOpened, receivedPath, true);
        }
        ReadReceivedFile(*received, decimalSeparator, [&table, &out](entrytype&& record) {
            ++out.records;
            table.AddEntry(std::move(record));
        });
    }

    if (!path) {
        return fail(kExportNotCreated, settings.OutDir, false);
    }
    const std::unique_ptr<OutputFile> exported = platform.CreateExport(*path);
    if (!exported) {
        return fail(kExportNotCreated, *path, true);
    }
    if (!WriteExport(table, settings, decimalSeparator, *exported, out.exportLines)) {
        // The partial file is removed when `exported` goes out of scope.
        return fail(settings.Aggregation ? kWriteFailedInCodeOrder : kWriteFailedInArrivalOrder,
                    *path, true);
    }
    out.exportPath = *path;
    return kConverted;
}

}  // namespace vorlund
