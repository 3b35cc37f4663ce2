#include "download/invitation_rhythm.h"

#include <utility>

#include "download/blocks/block_bytes.h"
#include "download/zmodem/zmodem_frame.h"

namespace vorlund {

std::string InvitationRhythm::Invite(Time now) {
    switch (choice_) {
        case ProtocolChoice::kZmodem:
            next_ = now + kZmodemInterval;
            return EncodeHexHeader(ZmodemReadyHeader());
        case ProtocolChoice::kYmodem:
            next_ = now + (std::exchange(quietSpellDue_, false) ? kQuietSpell : kInterval);
            return std::string(1, kCrcRequest);
        case ProtocolChoice::kAuto:
        case ProtocolChoice::kXmodem:
            break;
    }
    if (!nakNext_) {
        nakNext_ = true;
        roundStarted_ = now;
        next_ = now + kChecksumAfter;
        return std::string(1, kCrcRequest);
    }
    nakNext_ = false;
    // The round's second comes at its time, or, when this NAK came late,
    // as long after it as a NAK precedes it.
    next_ = roundStarted_ + kInterval;
    if (std::exchange(quietSpellDue_, false)) {
        next_ = now + kQuietSpell;
    } else if (next_ <= now) {
        next_ = now + (kInterval - kChecksumAfter);
    }
    return std::string(1, kNak);
}

void InvitationRhythm::Restart(Time now) {
    next_ = now + kInterval;
    nakNext_ = false;
}

void InvitationRhythm::StartRound(Time now) {
    next_ = now;
    nakNext_ = false;
}

}  // namespace vorlund
