// Receives from whichever sender the line has, with no setting: it invites a
// sender and, from its first frames, hands the line to the receiver of the
// protocol it speaks.
//
// A waiting line is invited (InvitationRhythm) so that every kind of sender
// starts within a second of being ready, whenever it is docked; nothing is
// said over a frame that is arriving. It never sends ZMODEM's ZRINIT unasked: a ZMODEM
// sender announces itself (ZRQINIT) and is answered at once, while a ZRINIT
// (two of which hold two CAN) read by an XMODEM or YMODEM sender that waits
// for 'C' makes it give up. A ZMODEM sender that waits to be asked needs the
// line fixed to ZMODEM (ProtocolChoice::kZmodem), where ZRINIT is the
// invitation.
//
// A ZMODEM sender left in the middle of its session by the session before
// (a delivery converted, the line dropped) is not left to guess: the next
// session answers it first, in ZMODEM, from what the last one knew of it
// (its next offer, our answer to its end again, or a cancel for a transfer
// cut off), since a ZMODEM sender takes invitations for noise that keeps it
// waiting. Should that answer be lost too, one spell of quiet after the
// first round of invitations, longer than a ZMODEM sender waits, lets it
// give up and speak again; only such a line has it, so every other sender
// is invited without pause.
//
// The first frames decide: a ZMODEM header (its CRC checked) is ZMODEM, a
// block numbered 0 YMODEM, a block numbered 1 XMODEM. A lone end of
// transmission is answered from what the last transfer on the line was, a
// block of any other number is a transfer this session does not hold, and
// is cancelled. Once the chosen receiver holds nothing of a sender any more
// (its transfer failed, or took the next file without a header), the line
// is open to any protocol again. So is it while a ZMODEM session waits for
// its first file (a sender that read an invitation just after its request
// falls back to YMODEM, as lrzsz's sz does), and while the chosen receiver's
// sender has gone silent: the line is invited alongside, and a new sender's
// first frame (a terminal docked in place of one lifted out) ends the silent
// transfer and takes the line.
#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "download/blocks/block_scanner.h"
#include "download/invitation_rhythm.h"
#include "download/new_sender_probe.h"
#include "download/protocol_receiver.h"
#include "download/transfer_sink.h"
#include "download/zmodem/zmodem_receiver.h"
#include "settings/protocol_setting.h"

namespace vorlund {

class ProtocolRecogniser final : public ProtocolReceiver {
  public:
    // The line is quiet after this long without a byte.
    static constexpr Time kByteTimeout{1000};
    // How long after a file was delivered its sender may still repeat its
    // end of transmission and be answered as that file's sender.
    static constexpr Time kEndRepeatWindow{60000};

    // Starts the session: a ZMODEM sender the previous one left in the
    // middle of its session is answered first; then the line is invited.
    // `choice`: the protocols it takes; auto, every one. The sink must
    // outlive it.
    // `quietSpell`: a sender nothing is known of may wait for an answer (the
    // service's run before was cut short).
    ProtocolRecogniser(Time now, TransferSink& sink, std::optional<TransferEnding> lastEnding,
                       std::uint64_t largestFile, ProtocolChoice choice = ProtocolChoice::kAuto,
                       bool quietSpell = false);
    ~ProtocolRecogniser() override;

    void Receive(std::string_view bytes, Time now) override;
    void Tick(Time now) override;
    std::optional<Time> NextDeadline() const override;
    std::string TakeOutput() override;
    std::optional<TransferOutcome> TakeOutcome() override;

    bool TransferInProgress() const override;
    bool Idle() const override { return !active_; }
    void Cancel(Time now) override;
    void TakeNextFile(Time now) override;

    std::optional<TransferEnding> LastEnding() const override;
    void RememberEnding(TransferEnding ending) override;
    std::size_t HeldBytes() const override;
    std::optional<Time> SilentFrom() const override { return std::nullopt; }
    bool ClaimsBlock(std::uint8_t, std::string_view) const override { return true; }
    void GiveWay(Time now) override { Cancel(now); }

    // The protocol of the receiver that has the line; none while it waits.
    std::optional<LineProtocol> Protocol() const { return protocol_; }
    // The bytes that no protocol took (a wrong speed, noise, a sender of a
    // protocol the line is not received with) since the last call.
    std::size_t TakeUnrecognised() { return std::exchange(unrecognised_, 0); }

  private:
    // Bytes while no receiver has the line.
    void Recognise(Time now, bool quiet);
    // Whether held_ begins with a ZMODEM header whose CRC holds; none while
    // it may still become one.
    std::optional<bool> ZmodemHeaderAhead(bool quiet) const;
    void ScanBlocks(Time now, bool quiet);
    void ScanBlock(BlockScanner::Event block, Time now);
    void Handover(std::unique_ptr<ProtocolReceiver> receiver, LineProtocol protocol,
                  std::string bytes, Time now);
    void AnswerLoneEnd(Time now);
    // Bytes while the active receiver's sender is silent: held until the
    // first frame among them shows whose it is.
    void ReceiveAfterSilence(std::string_view bytes, Time now, bool quiet);
    bool SenderSilent(Time now) const;
    // While a ZMODEM session waits for its first file: a header or first
    // block among the bytes (its sender fell back to YMODEM or XMODEM on
    // reading an invitation before our answer) takes the line.
    bool TakeFallenBackSender(Time now, bool quiet);
    // The line has gone quiet: what it left is resolved, a lone end
    // answered.
    void SettleQuiet(Time now);
    // Invites when it is due.
    void InviteWhenDue(Time now);
    // A frame may be arriving, or a sender waits for the line's quiet to be
    // answered: no invitation is said over it.
    bool FrameArriving(Time now) const;
    // Collects what the receiver has to say, and takes the line back once
    // it holds nothing of a sender.
    void AfterReceiver(Time now);
    // Whether the line is received with `protocol`.
    bool Takes(LineProtocol protocol) const;
    // Whether the last ending leaves a ZMODEM sender that may wait for an
    // answer, which only a quiet spell lets give up (a line fixed to ZMODEM
    // answers it with its invitations).
    bool QuietSpellOwed() const;

    TransferSink& sink_;
    std::uint64_t largestFile_;
    ProtocolChoice choice_;
    std::unique_ptr<ProtocolReceiver> active_;
    std::optional<LineProtocol> protocol_;
    // The active receiver when it is ZMODEM's.
    ZmodemReceiver* zmodem_ = nullptr;
    std::string output_;
    std::deque<TransferOutcome> outcomes_;
    std::optional<TransferEnding> lastEnding_;

    // While no receiver has the line.
    BlockScanner scanner_;
    std::string held_;  // bytes not yet scanned: they may begin a ZMODEM header
    Time lastByte_{};
    InvitationRhythm rhythm_;
    bool loneEnd_ = false;        // an end of transmission, if nothing follows it
    bool inviteAtQuiet_ = false;  // a damaged block: its sender waits for an answer

    // While the active receiver's sender is silent: the bytes that broke the
    // silence, and whether the line is being invited alongside.
    NewSenderProbe probe_;
    bool invitingAlongside_ = false;
    std::size_t unrecognised_ = 0;
};

}  // namespace vorlund
