#include "delivery/delivery_ledger.h"

#include <algorithm>

#include "platform/read_to_end.h"

namespace vorlund {

Result<DeliveryLedger> DeliveryLedger::Open(const Platform& platform, std::string path) {
    DeliveryLedger ledger(platform, std::move(path));
    std::uint64_t whole = 0;
    ledger.existed_ = platform.FileExists(ledger.path_);
    if (ledger.existed_) {
        Result<std::string> content = ReadWholeFile(platform, ledger.path_);
        if (!content) {
            return Failure{content.reason()};
        }
        // Up to the first line that is not whole: only a write that a power
        // cut interrupted leaves one, and only at the end.
        for (std::size_t start = 0; start < content->size();) {
            const std::size_t end = content->find('\n', start);
            if (end == std::string::npos) {
                break;
            }
            const std::optional<DeliveryRecord> record =
                DecodeRecord(std::string_view(*content).substr(start, end - start));
            if (!record) {
                break;
            }
            ledger.Apply(*record);
            start = end + 1;
            whole = start;
        }
    }
    Result<std::unique_ptr<AppendFile>> log = platform.OpenAppend(ledger.path_, whole);
    if (!log) {
        return Failure{log.reason()};
    }
    ledger.log_ = std::move(*log);
    return ledger;
}

Status DeliveryLedger::Write(const DeliveryRecord& record) {
    if (!log_) {
        Result<std::unique_ptr<AppendFile>> log = platform_->OpenAppend(path_, UINT64_MAX);
        if (!log) {
            return Status(Failure{log.reason()});
        }
        log_ = std::move(*log);
    }
    if (Status written = log_->Append(EncodeRecord(record)); !written) {
        return written;
    }
    ++appended_;
    Apply(record);
    return {};
}

Status DeliveryLedger::Rewrite(std::vector<DeliveryRecord> records) {
    Result<std::unique_ptr<StagedFile>> file = platform_->CreateStaged(path_);
    if (!file) {
        return Status(Failure{file.reason()});
    }
    for (const DeliveryRecord& record : records) {
        if (Status written = (*file)->Write(EncodeRecord(record)); !written) {
            return written;
        }
    }
    if (Status finished = (*file)->Finish(); !finished) {
        return finished;
    }
    // The handle to the old log would go on writing into the file the rename
    // takes out of sight; a new one opens with the next write.
    log_.reset();
    if (Status published = (*file)->Publish(StagedFile::Placement::kReplace);
        !published && !(*file)->Moved()) {
        return published;
    }
    records_ = std::move(records);
    appended_ = 0;
    return {};
}

void DeliveryLedger::Apply(const DeliveryRecord& record) {
    const auto same = std::find_if(records_.begin(), records_.end(),
                                   [&record](const DeliveryRecord& known) {
                                       return known.number == record.number;
                                   });
    if (same != records_.end()) {
        *same = record;
    } else {
        records_.push_back(record);
    }
}

}  // namespace vorlund
