#include "delivery/partial_deliveries.h"

#include <algorithm>
#include <charconv>
#include <memory>
#include <utility>

#include "common/crc32.h"
#include "delivery/crc32c.h"

namespace vorlund {
namespace {

constexpr char kDigits[] = "0123456789abcdef";
constexpr std::size_t kBlock = 64 * 1024;

std::string Hex(std::string_view bytes) {
    std::string text;
    for (const char byte : bytes) {
        text += kDigits[static_cast<unsigned char>(byte) >> 4];
        text += kDigits[static_cast<unsigned char>(byte) & 0xF];
    }
    return text;
}

std::optional<std::string> FromHex(std::string_view text) {
    const auto value = [](char c) {
        return c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
    };
    if (text.size() % 2 != 0) {
        return std::nullopt;
    }
    std::string bytes;
    for (std::size_t i = 0; i < text.size(); i += 2) {
        const int high = value(text[i]);
        const int low = value(text[i + 1]);
        if (high < 0 || low < 0) {
            return std::nullopt;
        }
        bytes.push_back(static_cast<char>(high * 16 + low));
    }
    return bytes;
}

template <class Number>
bool ParseNumber(std::string_view text, Number& value) {
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    return error == std::errc{} && end == text.data() + text.size() && !text.empty();
}

// One line: the file's name in hex, its size and modification time as
// announced ("-" for none), the part's bytes, and the CRC-32C of the line.
std::string Encode(const DeliveryHeader& header, std::uint64_t bytes) {
    std::string line = "part " + Hex(header.name) + " " +
                       (header.size ? std::to_string(*header.size) : "-") + " " +
                       (header.modified.empty() ? "-" : header.modified) + " " +
                       std::to_string(bytes);
    const std::uint32_t crc = Crc32c(line);
    std::string check;
    for (int shift = 28; shift >= 0; shift -= 4) {
        check += kDigits[(crc >> shift) & 0xFU];
    }
    return line + " crc=" + check + "\n";
}

// The record of a whole, undamaged line: what it says, written again, is
// the line, its check included.
std::optional<std::pair<DeliveryHeader, std::uint64_t>> Decode(std::string_view text) {
    std::vector<std::string_view> fields;
    for (std::string_view rest = text; !rest.empty();) {
        const std::size_t blank = rest.find(' ');
        fields.push_back(rest.substr(0, blank));
        rest = blank == std::string_view::npos ? "" : rest.substr(blank + 1);
    }
    DeliveryHeader header;
    std::uint64_t bytes = 0;
    const std::optional<std::string> name = fields.size() == 6 ? FromHex(fields[1]) : std::nullopt;
    if (!name || fields[0] != "part" || !ParseNumber(fields[4], bytes) ||
        (fields[2] != "-" && !ParseNumber(fields[2], header.size.emplace()))) {
        return std::nullopt;
    }
    header.name = *name;
    header.modified = fields[3] == "-" ? "" : std::string(fields[3]);
    if (Encode(header, bytes) != text) {
        return std::nullopt;
    }
    return std::pair(header, bytes);
}

std::optional<std::string> ReadSmall(const Platform& platform, const std::string& path) {
    Result<std::unique_ptr<InputFile>> file = platform.OpenForReading(path);
    if (!file) {
        return std::nullopt;
    }
    std::string text;
    char buffer[512];
    for (std::int64_t count; (count = (*file)->Read(buffer, sizeof buffer)) > 0;) {
        text.append(buffer, static_cast<std::size_t>(count));
        if (text.size() > 4096) {
            return std::nullopt;  // no record is this long
        }
    }
    return text;
}

}  // namespace

PartialDeliveries::PartialDeliveries(const Platform& platform, std::string spoolDir, Time now)
    : platform_(platform), folder_(spoolDir + platform.PathSeparator() + kFolder) {
    std::vector<std::string> names = platform_.ListDirectory(folder_);
    std::sort(names.begin(), names.end());
    for (const std::string& name : names) {
        std::uint64_t number = 0;
        const std::size_t dot = name.find('.');
        const bool numbered = dot != std::string::npos && ParseNumber(name.substr(0, dot), number);
        if (numbered && name.substr(dot) == ".rec") {
            const std::optional<std::string> text = ReadSmall(platform_, folder_ + platform_.PathSeparator() + name);
            const auto record = text ? Decode(*text) : std::nullopt;
            if (record && platform_.FileExists(PathOf(number, "dat"))) {
                parts_.push_back({{number, record->first, record->second, 0}, now});
            } else {
                static_cast<void>(platform_.RemoveFile(folder_ + platform_.PathSeparator() + name));
            }
            next_ = std::max(next_, number + 1);
        }
    }
    // What no record names (a part whose record never made it, a record
    // or part half written) is nothing anybody may continue.
    for (const std::string& name : names) {
        std::uint64_t number = 0;
        const std::size_t dot = name.find('.');
        const bool recorded =
            dot != std::string::npos && ParseNumber(name.substr(0, dot), number) &&
            std::any_of(parts_.begin(), parts_.end(),
                        [number](const Kept& kept) { return kept.part.number == number; });
        if (!recorded) {
            static_cast<void>(platform_.RemoveFile(folder_ + platform_.PathSeparator() + name));
        }
    }
    std::sort(parts_.begin(), parts_.end(),
              [](const Kept& a, const Kept& b) { return a.part.number < b.part.number; });
    while (parts_.size() > kMostParts) {
        Remove(parts_.front().part.number);
    }
}

Status PartialDeliveries::Keep(IncomingDelivery incoming, const DeliveryHeader& header, Time now) {
    Forget(header);
    StagedFile& file = *incoming.file_;
    if (Status finished = file.Finish(); !finished) {
        return finished;
    }
    if (!platform_.IsDirectory(folder_)) {
        static_cast<void>(platform_.MakeDirectory(folder_));
    }
    const std::uint64_t number = next_++;
    const std::string data = PathOf(number, "dat");
    // The part is on disk under its own name before a record says it is
    // there to be continued.
    file.KeepTemporary();
    if (Status moved = platform_.PublishTemporary(file.TemporaryPath(), data); !moved) {
        static_cast<void>(platform_.RemoveFile(file.TemporaryPath()));
        static_cast<void>(platform_.RemoveFile(data));
        return moved;
    }
    Result<std::unique_ptr<StagedFile>> record = platform_.CreateStaged(PathOf(number, "rec"));
    Status recorded = record ? (*record)->Write(Encode(header, incoming.Bytes())) : record.status();
    if (recorded) {
        recorded = (*record)->Finish();
    }
    if (recorded) {
        recorded = (*record)->Publish(StagedFile::Placement::kReplace);
    }
    if (!recorded) {
        static_cast<void>(platform_.RemoveFile(PathOf(number, "rec")));
        static_cast<void>(platform_.RemoveFile(data));
        return recorded;
    }
    parts_.push_back({{number, header, incoming.Bytes(), 0}, now});
    while (parts_.size() > kMostParts) {
        Remove(parts_.front().part.number);
    }
    return {};
}

std::optional<PartialDeliveries::Part> PartialDeliveries::Find(const DeliveryHeader& header,
                                                              Time now) {
    Expire(now);
    for (auto kept = parts_.rbegin(); kept != parts_.rend(); ++kept) {
        if (kept->part.header != header) {
            continue;
        }
        Part part = kept->part;
        Result<std::unique_ptr<InputFile>> file = platform_.OpenForReading(PathOf(part.number, "dat"));
        Crc32 crc;
        std::uint64_t bytes = 0;
        std::string block(kBlock, '\0');
        for (std::int64_t count; file && (count = (*file)->Read(block.data(), block.size())) > 0;) {
            crc.Update(std::string_view(block.data(), static_cast<std::size_t>(count)));
            bytes += static_cast<std::uint64_t>(count);
        }
        if (!file || bytes != part.bytes) {
            Remove(part.number);  // not what was recorded: nothing to continue
            return std::nullopt;
        }
        part.crc32 = crc.Value();
        return part;
    }
    return std::nullopt;
}

Status PartialDeliveries::CopyInto(const Part& part, IncomingDelivery& incoming) const {
    Result<std::unique_ptr<InputFile>> file = platform_.OpenForReading(PathOf(part.number, "dat"));
    if (!file) {
        return Failure{file.reason()};
    }
    std::string block(kBlock, '\0');
    std::uint64_t copied = 0;
    for (std::int64_t count; (count = (*file)->Read(block.data(), block.size())) > 0;) {
        if (Status written = incoming.Append(std::string_view(block.data(), static_cast<std::size_t>(count)));
            !written) {
            return written;
        }
        copied += static_cast<std::uint64_t>(count);
    }
    if (copied != part.bytes) {
        return Failure{PathOf(part.number, "dat") + ": shorter than recorded"};
    }
    return {};
}

void PartialDeliveries::Forget(const DeliveryHeader& header) {
    std::vector<std::uint64_t> gone;
    for (const Kept& kept : parts_) {
        if (kept.part.header == header) {
            gone.push_back(kept.part.number);
        }
    }
    for (const std::uint64_t number : gone) {
        Remove(number);
    }
}

void PartialDeliveries::Expire(Time now) {
    std::vector<std::uint64_t> gone;
    for (const Kept& kept : parts_) {
        if (now - kept.keptAt >= kKeptFor) {
            gone.push_back(kept.part.number);
        }
    }
    for (const std::uint64_t number : gone) {
        Remove(number);
    }
}

void PartialDeliveries::Remove(std::uint64_t number) {
    // The record first: a part left without one is removed at the next start.
    static_cast<void>(platform_.RemoveFile(PathOf(number, "rec")));
    static_cast<void>(platform_.RemoveFile(PathOf(number, "dat")));
    parts_.erase(std::remove_if(parts_.begin(), parts_.end(),
                                [number](const Kept& kept) { return kept.part.number == number; }),
                 parts_.end());
}

std::string PartialDeliveries::PathOf(std::uint64_t number, const char* extension) const {
    return folder_ + platform_.PathSeparator() + std::to_string(number) + "." + extension;
}

}  // namespace vorlund
