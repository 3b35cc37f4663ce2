#include "download/invitation_rhythm.h"

#include <algorithm>
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
    next_ = std::exchange(quietSpellDue_, false) ? now + kQuietSpell
                                                 : std::max(now, roundStarted_ + kInterval);
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
