#include "app/settle_reply.h"

#include <charconv>

namespace vorlund {
namespace {

constexpr std::string_view kRequest = "settle";

std::string Escaped(std::string_view text) {
    std::string escaped;
    for (const char c : text) {
        switch (c) {
            case '\\':
                escaped += "\\\\";
                break;
            case '\t':
                escaped += "\\t";
                break;
            case '\n':
                escaped += "\\n";
                break;
            default:
                escaped += c;
        }
    }
    return escaped;
}

std::string Unescaped(std::string_view text) {
    std::string plain;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\' || i + 1 == text.size()) {
            plain += text[i];
            continue;
        }
        const char next = text[++i];
        plain += next == 't' ? '\t' : next == 'n' ? '\n' : next;
    }
    return plain;
}

std::vector<std::string> Fields(std::string_view line) {
    std::vector<std::string> fields;
    for (std::size_t start = 0;;) {
        const std::size_t tab = line.find('\t', start);
        fields.push_back(Unescaped(line.substr(start, tab == std::string_view::npos ? tab : tab - start)));
        if (tab == std::string_view::npos) {
            return fields;
        }
        start = tab + 1;
    }
}

}  // namespace

std::string EncodeSettleRequest(const std::string& only) {
    return std::string(kRequest) + (only.empty() ? "" : "\t" + Escaped(only)) + "\n";
}

std::optional<std::string> DecodeSettleRequest(std::string_view line) {
    const std::vector<std::string> fields = Fields(line);
    if (fields[0] != kRequest || fields.size() > 2) {
        return std::nullopt;
    }
    return fields.size() == 2 ? fields[1] : std::string();
}

std::string EncodeSettleReply(const SettleReply& reply) {
    std::string text;
    for (const DeliveryHandOff::OperatorSettlement& one : reply.settled) {
        if (one.exported) {
            text += "exported\t" + Escaped(one.path) + "\t" + Escaped(one.exportPath) + "\n";
        } else if (one.skipped) {
            text += "skipped\t" + Escaped(one.path) + "\t" + Escaped(one.result) + "\t" +
                    Escaped(one.detail) + "\n";
        } else {
            text += "failed\t" + Escaped(one.path) + "\t" + Escaped(one.result) + "\t" +
                    Escaped(one.detail) + "\n";
        }
    }
    return text + "waiting\t" + std::to_string(reply.waiting) + "\n";
}

std::optional<SettleReply> DecodeSettleReply(std::string_view text) {
    SettleReply reply;
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        if (end == std::string_view::npos) {
            return std::nullopt;
        }
        const std::vector<std::string> fields = Fields(text.substr(0, end));
        text.remove_prefix(end + 1);
        if (fields[0] == "exported" && fields.size() == 3) {
            DeliveryHandOff::OperatorSettlement& one = reply.settled.emplace_back();
            one.exported = true;
            one.path = fields[1];
            one.exportPath = fields[2];
        } else if ((fields[0] == "failed" || fields[0] == "skipped") && fields.size() == 4) {
            reply.settled.push_back({fields[1], false, {}, fields[2], fields[3],
                                     fields[0] == "skipped"});
        } else if (fields[0] == "waiting" && fields.size() == 2 && text.empty()) {
            const auto [end2, error] = std::from_chars(
                fields[1].data(), fields[1].data() + fields[1].size(), reply.waiting);
            if (error != std::errc{} || end2 != fields[1].data() + fields[1].size()) {
                return std::nullopt;
            }
            return reply;
        } else {
            return std::nullopt;
        }
    }
    return std::nullopt;
}

}  // namespace vorlund
