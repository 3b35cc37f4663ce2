// Receives from whichever sender the line has, with no setting: it invites a
// sender and, from its first frames, hands the line to the receiver of the
// protocol it speaks.
//
// It invites with YMODEM's 'C' every few seconds, which XMODEM senders with
// a CRC and YMODEM senders answer, and now and then with NAK, the original
// protocol's invitation, for the senders that know only the checksum. After
// every few invitations it pauses for longer than a ZMODEM sender waits for
// an answer: one left waiting by a restart or a lost answer reads each
// invitation as a stray byte, which starts its wait afresh, and only a quiet
// line lets it give up waiting and say its piece again. It never sends
// ZMODEM's ZRINIT unasked: a ZMODEM sender announces itself
// (ZRQINIT, which it repeats while it hears nothing), and is answered at
// once, while a ZRINIT read by an XMODEM or YMODEM sender that waits for
// 'C' can derail it.
//
// The first frames decide: a ZMODEM header (its CRC checked) is ZMODEM, a
// block numbered 0 YMODEM, a block numbered 1 XMODEM. A lone end of
// transmission is answered from what the last transfer on the line was, a
// block of any other number is a transfer this session does not hold, and
// is cancelled. Once the chosen receiver holds nothing of a sender any more
// (its transfer failed, or took the next file without a header), the line
// is open to any protocol again. So is it while a ZMODEM session waits for
// its first file: a sender that read an invitation just after its request
// falls back to YMODEM (lrzsz's sz does), and its header takes the line.
#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "download/blocks/block_scanner.h"
#include "download/protocol_receiver.h"
#include "download/transfer_sink.h"
#include "download/zmodem/zmodem_receiver.h"
#include "settings/protocol_setting.h"

namespace vorlund {

class ProtocolRecogniser final : public ProtocolReceiver {
  public:
    // How often a waiting line is invited, so many times in a row; then the
    // line stays quiet for longer than a ZMODEM sender's ten seconds.
    static constexpr Time kInvitationInterval{3000};
    static constexpr int kInvitationsInARow = 3;
    static constexpr Time kInvitationPause{12000};
    // Every so many invitations is a NAK rather than a 'C'.
    static constexpr int kChecksumInvitationEvery = 5;
    // The line is quiet after this long without a byte.
    static constexpr Time kByteTimeout{1000};
    // How long after a file was delivered its sender may still repeat its
    // end of transmission and be answered as that file's sender.
    static constexpr Time kEndRepeatWindow{60000};

    // Starts the session: a sender the previous one left waiting is asked to
    // go on; otherwise the line is invited. The sink must outlive it.
    // `choice`: the protocols it takes; auto, every one.
    ProtocolRecogniser(Time now, TransferSink& sink, std::optional<TransferEnding> lastEnding,
                       std::uint64_t largestFile, ProtocolChoice choice = ProtocolChoice::kAuto);
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

    // The protocol of the receiver that has the line; none while it waits.
    std::optional<LineProtocol> Protocol() const { return protocol_; }

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
    void Invite(Time now);
    // Collects what the receiver has to say, and takes the line back once
    // it holds nothing of a sender.
    void AfterReceiver(Time now);

    // Whether the line is received with `protocol`.
    bool Takes(LineProtocol protocol) const;

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
    Time nextInvitation_{};
    int invitations_ = 0;
    bool loneEnd_ = false;       // an end of transmission, if nothing follows it
    bool inviteAtQuiet_ = false;  // a damaged block: its sender waits for an answer
};

}  // namespace vorlund
