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

Status WriteExport(const ArticleTable& table, const ServiceSettings& settings,
                   char decimalSeparator, StagedFile& file, std::uint64_t& lines) {
    const std::string format = BuildLineFormat(settings.UseQuotes, settings.Separator);
    std::string block;
    Status written;
    table.ForEachEntry([&](std::string_view code, Extended quantity) {
        FormatLine(format, code, FormatQuantity(quantity, decimalSeparator), block);
        ++lines;
        if (block.size() < kWriteBlock) {
            return true;
        }
        written = file.Write(block);
        block.clear();
        return written.ok();
    });
    if (written && !block.empty()) {
        written = file.Write(block);
    }
    return written ? file.Finish() : written;
}

ConversionResult WriteFailure(const ServiceSettings& settings) {
    return settings.Aggregation ? kWriteFailedInCodeOrder : kWriteFailedInArrivalOrder;
}

}  // namespace

std::string ReceivedFilePath(const ServiceSettings& settings, const Platform& platform) {
    return settings.SpoolDir + platform.PathSeparator() + "X.DAT";
}

PreparedExport PrepareExport(const ServiceSettings& settings, const Platform& platform,
                             char decimalSeparator, const std::string& receivedPath) {
    PreparedExport prepared;
    ConversionReport& out = prepared.report;
    const auto fail = [&](ConversionResult result, std::string failedPath, std::string reason) {
        prepared.result = result;
        out.failedPath = std::move(failedPath);
        out.errorText = std::move(reason);
        return std::move(prepared);
    };

    ArticleTable table(settings.Aggregation);
    const std::optional<std::string> path = ChooseExportPath(settings, platform);

    if (!platform.FileExists(receivedPath)) {
        // The system's own words for it, where opening it says more.
        const Result<std::unique_ptr<InputFile>> missing = platform.OpenForReading(receivedPath);
        return fail(kNoReceivedFile, receivedPath, missing ? std::string() : missing.reason());
    }
    {
        Result<std::unique_ptr<InputFile>> received = platform.OpenExclusive(receivedPath);
        if (!received) {
            return fail(kReceivedFileNotOpened, receivedPath, received.reason());
        }
        ReadReceivedFile(**received, decimalSeparator, [&table, &out](entrytype&& record) {
            ++out.records;
            table.AddEntry(std::move(record));
        });
    }

    if (!path) {
        return fail(kExportNotCreated, settings.OutDir,
                    "every time-stamped name of the next 24 hours is taken");
    }
    Result<std::unique_ptr<StagedFile>> exported = platform.CreateStaged(*path);
    if (!exported) {
        return fail(kExportNotCreated, *path, exported.reason());
    }
    // A file whose writing failed goes with `exported`, unpublished.
    if (Status written = WriteExport(table, settings, decimalSeparator, **exported, out.exportLines);
        !written) {
        return fail(WriteFailure(settings), *path, written.reason());
    }
    out.exportPath = *path;
    prepared.file = std::move(*exported);
    return prepared;
}

ConversionResult PublishExport(const ServiceSettings& settings, const Platform& platform,
                               PreparedExport& prepared) {
    if (Status published = prepared.file->Publish(StagedFile::Placement::kReplace); !published) {
        if (prepared.file->Moved()) {
            // Moved but not durably named: taken away again, so that no export
            // is reported that a power cut could still undo.
            platform.RemoveFile(prepared.report.exportPath).ok();
        }
        prepared.result = WriteFailure(settings);
        prepared.report.failedPath = prepared.report.exportPath;
        prepared.report.errorText = published.reason();
        prepared.report.exportPath.clear();
    }
    prepared.file.reset();
    return prepared.result;
}

ConversionResult ConvertReceivedFile(const ServiceSettings& settings, const Platform& platform,
                                     char decimalSeparator, ConversionReport* report,
                                     const std::string& receivedPath) {
    PreparedExport prepared =
        PrepareExport(settings, platform, decimalSeparator,
                      receivedPath.empty() ? ReceivedFilePath(settings, platform) : receivedPath);
    if (prepared.result == kConverted) {
        PublishExport(settings, platform, prepared);
    }
    if (report) {
        *report = std::move(prepared.report);
    }
    return prepared.result;
}

}  // namespace vorlund
