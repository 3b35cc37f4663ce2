#include "delivery/delivery_ledger.h"

#include <algorithm>
#include <charconv>

#include "platform/read_to_end.h"

namespace vorlund {
namespace {

// How much of a damaged line an operator is shown.
constexpr std::size_t kShownOfDamagedLine = 80;

// The number a damaged line begins with, if it still reads as one: no later
// delivery may be given it, whatever else the line held.
std::uint64_t LeadingNumber(std::string_view line) {
    std::uint64_t number = 0;
    const auto [end, error] = std::from_chars(line.data(), line.data() + line.size(), number);
    return error == std::errc{} && end != line.data() ? number : 0;
}

std::string Shown(std::string_view line) {
    std::string text(line.substr(0, kShownOfDamagedLine));
    for (char& c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte >= 0x7F) {
            c = '?';
        }
    }
    return line.size() > kShownOfDamagedLine ? text + "..." : text;
}

bool IsAbsolute(const std::string& path) {
    return (!path.empty() && (path[0] == '/' || path[0] == '\\')) ||
           (path.size() > 1 && path[1] == ':');
}

}  // namespace

Result<DeliveryLedger> DeliveryLedger::Open(const Platform& platform, std::string path,
                                            std::string base) {
    std::uint64_t whole = 0;
    Result<DeliveryLedger> ledger = Read(platform, std::move(path), std::move(base), &whole);
    if (!ledger) {
        return ledger;
    }
    Result<std::unique_ptr<AppendFile>> log = platform.OpenAppend(ledger->path_, whole);
    if (!log) {
        return Failure{log.reason()};
    }
    ledger->log_ = std::move(*log);
    return ledger;
}

Result<DeliveryLedger> DeliveryLedger::Read(const Platform& platform, std::string path,
                                            std::string base, std::uint64_t* wholeBytes) {
    DeliveryLedger ledger(platform, std::move(path), std::move(base));
    std::uint64_t whole = 0;
    ledger.existed_ = platform.FileExists(ledger.path_);
    if (ledger.existed_) {
        Result<std::string> content = ReadWholeFile(platform, ledger.path_);
        if (!content) {
            return Failure{content.reason()};
        }
        // Damaged lines are held back until a whole line follows them: only
        // then are they damage to pass over rather than a torn end to cut.
        std::vector<DamagedLine> pending;
        std::size_t number = 0;
        for (std::size_t start = 0; start < content->size();) {
            const std::size_t end = content->find('\n', start);
            const std::string_view line = std::string_view(*content).substr(
                start, end == std::string::npos ? std::string::npos : end - start);
            ++number;
            const std::optional<DeliveryRecord> record =
                end == std::string::npos ? std::nullopt : DecodeRecord(line);
            if (!record) {
                pending.push_back({number, Shown(line)});
                ledger.highest_ = std::max(ledger.highest_, LeadingNumber(line));
                if (end == std::string::npos) {
                    break;
                }
                start = end + 1;
                continue;
            }
            DeliveryRecord resolved = *record;
            ledger.Resolve(resolved);
            ledger.Apply(resolved);
            ledger.damaged_.insert(ledger.damaged_.end(), pending.begin(), pending.end());
            pending.clear();
            start = end + 1;
            whole = start;
        }
    }
    if (wholeBytes) {
        *wholeBytes = whole;
    }
    return ledger;
}

const DeliveryRecord* DeliveryLedger::Latest() const {
    for (auto record = records_.rbegin(); record != records_.rend(); ++record) {
        if (!record->keptOnly) {
            return &*record;
        }
    }
    return nullptr;
}

const DeliveryRecord* DeliveryLedger::Find(std::uint64_t number) const {
    const auto found = std::lower_bound(
        records_.begin(), records_.end(), number,
        [](const DeliveryRecord& record, std::uint64_t wanted) { return record.number < wanted; });
    return found != records_.end() && found->number == number ? &*found : nullptr;
}

Status DeliveryLedger::Write(const DeliveryRecord& record) {
    if (!log_) {
        Result<std::unique_ptr<AppendFile>> log = platform_->OpenAppend(path_, UINT64_MAX);
        if (!log) {
            return Status(Failure{log.reason()});
        }
        log_ = std::move(*log);
    }
    if (Status written = log_->Append(Encode(record)); !written) {
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
        if (Status written = (*file)->Write(Encode(record)); !written) {
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
    damaged_.clear();
    appended_ = 0;
    return {};
}

void DeliveryLedger::Apply(const DeliveryRecord& record) {
    highest_ = std::max(highest_, record.number);
    // Numbers are given in rising order, so a new delivery goes at the end
    // and a known one is found by halving: reading a long ledger stays
    // proportional to its length.
    if (records_.empty() || records_.back().number < record.number) {
        records_.push_back(record);
        return;
    }
    const auto found = std::lower_bound(
        records_.begin(), records_.end(), record.number,
        [](const DeliveryRecord& known, std::uint64_t wanted) { return known.number < wanted; });
    if (found->number == record.number) {
        *found = record;
    } else {
        records_.insert(found, record);
    }
}

std::string DeliveryLedger::Encode(DeliveryRecord record) const {
    for (std::string* path : {&record.staged, &record.temporary, &record.file, &record.keptFile}) {
        if (!base_.empty() && path->compare(0, base_.size(), base_) == 0) {
            path->erase(0, base_.size());
        }
    }
    return EncodeRecord(record);
}

void DeliveryLedger::Resolve(DeliveryRecord& record) const {
    for (std::string* path : {&record.staged, &record.temporary, &record.file, &record.keptFile}) {
        if (!path->empty() && !IsAbsolute(*path)) {
            path->insert(0, base_);
        }
    }
}

}  // namespace vorlund
