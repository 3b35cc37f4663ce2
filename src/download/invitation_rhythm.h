// When a waiting line is invited, and with what. Every second a 'C' (YMODEM,
// and XMODEM with a CRC), and 200 ms after each 'C' a NAK (XMODEM senders
// that know only the checksum): either kind starts within a second of being
// ready, whenever it is docked, and a sender that knows both takes the 'C'
// unless it became ready in the 200 ms between. A line fixed to YMODEM hears
// only 'C'; one fixed to ZMODEM its ZRINIT every two seconds, and nothing
// else. A round may be followed by one quiet spell, longer than a ZMODEM
// sender waits for an answer, for one that may wait for an answer that was
// lost (it takes each invitation for noise that starts its wait afresh).
#pragma once

#include <chrono>
#include <string>

#include "settings/protocol_setting.h"

namespace vorlund {

class InvitationRhythm {
  public:
    using Time = std::chrono::milliseconds;

    static constexpr Time kInterval{1000};
    static constexpr Time kChecksumAfter{200};
    static constexpr Time kZmodemInterval{2000};
    static constexpr Time kQuietSpell{11000};

    explicit InvitationRhythm(ProtocolChoice choice) : choice_(choice) {}

    // The invitation to say now, whether or not one was due; the next is
    // then due at NextAt.
    std::string Invite(Time now);
    Time NextAt() const { return next_; }
    bool Due(Time now) const { return now >= next_; }
    // Nothing is said before `at` (a frame is arriving).
    void PostponeTo(Time at) { next_ = at > next_ ? at : next_; }
    // What we just said answers a sender: the next round begins a full
    // interval later, with 'C'.
    void Restart(Time now);
    // A new round begins now (the line is invited alongside a silent sender).
    void StartRound(Time now);
    // Whether the next round ends with a quiet spell.
    void SetQuietSpellDue(bool due) { quietSpellDue_ = due; }

  private:
    ProtocolChoice choice_;
    Time next_{};
    Time roundStarted_{};
    bool nakNext_ = false;  // the round's 'C' went out; its NAK follows
    bool quietSpellDue_ = false;
};

}  // namespace vorlund
