// Cuts the bytes of a ZMODEM line into what the sender transmitted: headers
// (hex, or binary with a CRC-16 or a CRC-32), the data subpackets that
// follow the headers that carry data, and the sender's abort (five CAN). It
// undoes the ZDLE escapes, checks every CRC, and keeps no protocol state
// beyond the frame it is in: the receiver decides what each means.
//
// Whatever does not check is reported and then hunted past: a damaged header
// or subpacket, an escape that means nothing, a subpacket longer than any
// sender sends. It holds at most one subpacket, so its memory is bounded
// whatever the line brings.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "download/zmodem/zmodem_frame.h"

namespace vorlund {

class ZmodemFrameScanner {
  public:
    struct Event {
        enum class Kind {
            kHeader,     // a header whose CRC holds
            kData,       // a data subpacket whose CRC holds
            kBadHeader,  // a header that began but does not check
            kBadData,    // a subpacket that does not check, or is too long
            kAbort,      // five CAN in a row
        };
        Kind kind;
        ZmodemHeader header;  // kHeader
        std::string data;     // kData
        char end = 0;         // kData: how it ended (ZCRCE, ZCRCG, ZCRCQ, ZCRCW)
    };

    void Append(std::string_view bytes) { pending_.append(bytes); }
    // The next event in the bytes so far; none once they are used up.
    std::optional<Event> Next();

    // The data that follows the current header is of no use: its subpackets
    // are passed over, not reported, until the next header.
    void SkipData() { skipData_ = true; }
    // Forgets everything received so far.
    void Clear();
    // The line went quiet inside a frame: what came of it is given up (as
    // a damaged subpacket or header), and the search for a header begins.
    std::optional<Event> GiveUpFrame();
    bool HasPending() const { return at_ < pending_.size(); }
    // Inside a header or a frame's data: more is to come.
    bool InFrame() const { return state_ != State::kHunt; }

  private:
    enum class State {
        kHunt,        // looking for ZPAD
        kPad,         // ZPAD seen: more ZPAD, or ZDLE
        kPadDle,      // ZPAD ZDLE: the header's format follows
        kHexHeader,   // the hex digits of a header
        kHexTrailer,  // CR LF after a hex header that data follows
        kBinHeader,   // the escaped bytes of a binary header
        kData,        // a data subpacket
        kDataCrc,     // its check
    };
    enum class Decoded { kByte, kEnd, kNothing, kBad };

    std::optional<Event> Step(char byte);
    // Undoes the ZDLE escapes: a byte, a subpacket's end, nothing yet, or an
    // escape that means nothing.
    Decoded Decode(char byte, char& out);
    std::optional<Event> HeaderComplete();
    std::optional<Event> DataComplete();
    std::optional<Event> Fail(Event::Kind kind);
    void Hunt();

    std::string pending_;
    std::size_t at_ = 0;
    State state_ = State::kHunt;
    int cans_ = 0;          // CAN in a row, wherever they fall
    bool escaped_ = false;  // a ZDLE came; the escaped byte is next
    bool crc32_ = false;    // the frame's checks are CRC-32
    bool skipData_ = false;
    bool sawCr_ = false;
    std::string field_;  // a header's digits or bytes, or a subpacket's data
    char end_ = 0;
    std::string crc_;
};

}  // namespace vorlund
