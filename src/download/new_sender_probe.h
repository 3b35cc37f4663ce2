// The first bytes after a silent sender's silence, held until their first
// frame shows whose they are: the silent sender's resend (its next block,
// its last block again, its end), or a new sender's start in its place (a
// terminal docked where one was lifted out): a YMODEM header, an XMODEM
// first block, a ZMODEM request or file offer. What comes before the first
// frame is the silent sender's unless a new sender's frame follows.
#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "download/protocol_receiver.h"
#include "download/transfer_outcome.h"

namespace vorlund {

class NewSenderProbe {
  public:
    using Time = std::chrono::milliseconds;
    enum class Verdict { kUndecided, kOldSender, kNewSender };

    void Append(std::string_view bytes, Time now);
    bool Empty() const { return bytes_.empty(); }
    // When the last of the bytes held arrived.
    Time LastByte() const { return lastByte_; }

    // Whose the bytes held are. `silent`: the receiver of the silent sender,
    // of protocol `protocol`; `takes`: whether the line is received with a
    // protocol. `quiet`: the line has gone quiet, so a frame that is not
    // complete will not grow.
    Verdict Decide(bool quiet, const ProtocolReceiver& silent, LineProtocol protocol,
                   const std::function<bool(LineProtocol)>& takes) const;
    // All the bytes held, for the silent sender's receiver.
    std::string TakeAll();
    // The bytes from the new sender's first frame on.
    std::string TakeNewSender();
    void Clear();
    std::size_t Capacity() const { return bytes_.capacity(); }

  private:
    std::size_t FrameStart() const;

    std::string bytes_;
    Time lastByte_{};
};

}  // namespace vorlund
