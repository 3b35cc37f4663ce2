// What the running service answers an operator's command that settles the
// deliveries waiting in its application directory: one line per delivery it
// tried, then how many still wait. Text, one field per TAB, so that the
// command prints what the service did as if it had done it itself.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "delivery/delivery_hand_off.h"

namespace vorlund {

// The socket's name in the spool directory of a running service.
inline constexpr char kSettleSocketName[] = ".vorlund.sock";

// The request: settle everything, or the kept file `only`.
std::string EncodeSettleRequest(const std::string& only);
// The kept file of a request ("" for all); none when it is no request.
std::optional<std::string> DecodeSettleRequest(std::string_view line);

struct SettleReply {
    std::vector<DeliveryHandOff::OperatorSettlement> settled;
    std::size_t waiting = 0;
};

std::string EncodeSettleReply(const SettleReply& reply);
// None when the text is not a whole reply (the service ended midway).
std::optional<SettleReply> DecodeSettleReply(std::string_view text);

}  // namespace vorlund
