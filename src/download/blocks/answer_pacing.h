// When the YMODEM receiver may answer. The sender waits for one answer after
// each block and takes the next byte it reads as that answer, so one answer
// too many puts it a block ahead: it then takes our acknowledgement of its
// last block for that of its end, and our refusal of the end for the request
// of the next header. An answer therefore goes out at once only for a
// single, clean block that follows a clean answer. After anything else (a
// timeout, noise, a damaged or repeated block, more than one block in a row,
// an end of transmission that may be noise) it waits until the line has been
// quiet, and then one answer goes out for the last thing received: copies of
// a block that a stalled line delivers together, and a sender that has run
// ahead, are answered once and fall back into step.
#pragma once

#include <algorithm>
#include <chrono>
#include <optional>
#include <utility>

namespace vorlund {

class AnswerPacing {
  public:
    using Time = std::chrono::milliseconds;

    enum class Reply {
        kAck,
        kRequestAgain,       // NAK, or 'C' before the first data block
        kRequestHeader,      // 'C' while no transfer runs
        kEndOfTransmission,  // decided once the EOT has proved to stand alone
        kNothing,
    };
    // What arrived since our last answer.
    struct Burst {
        int blocks = 0;
        bool noise = false;
        bool damagedBlock = false;
    };

    // `quiet`: silence that makes the line quiet; `longest`: the longest an
    // answer waits on a line that never goes quiet.
    AnswerPacing(Time quiet, Time longest) : quiet_(quiet), longest_(longest) {}

    void Block() { ++burst_.blocks; }
    // A block that turned out to need no answer of its own.
    void Dismiss() { --burst_.blocks; }
    void Noise(bool damagedBlock) {
        burst_.noise = true;
        burst_.damagedBlock = burst_.damagedBlock || damagedBlock;
    }
    const Burst& Current() const { return burst_; }

    // Whether an answer to the block just received may go out now. `more`:
    // bytes behind it had arrived before our answer could, so they are no
    // reaction to it.
    bool MayAnswerNow(bool more) const {
        return !cautious_ && !burst_.noise && burst_.blocks == 1 && !more && !deferred_;
    }
    // The answer waits for quiet; a later one replaces it.
    void Defer(Reply reply, Time now) {
        if (!deferred_) {
            deferredSince_ = now;
        }
        deferred_ = reply;
    }
    std::optional<Reply> Deferred() const { return deferred_; }
    // When the deferred answer is due, given the time of the last byte.
    Time Due(Time lastByte) const { return std::min(lastByte + quiet_, deferredSince_ + longest_); }

    // An answer goes out. `settled`: it waited for quiet, after which the
    // next answer waits too unless this one covered a single clean block.
    // Returns what it answered.
    Burst Answered(Reply reply, bool settled) {
        if (settled) {
            cautious_ = !(burst_.blocks == 1 && !burst_.noise);
        }
        if (reply == Reply::kRequestAgain) {
            // A request may cross a block on its way: the answer to what
            // comes next waits for quiet.
            cautious_ = true;
        }
        lastWasAck_ = reply == Reply::kAck;
        deferred_.reset();
        return std::exchange(burst_, {});
    }
    bool LastAnswerWasAck() const { return lastWasAck_; }

    // A transfer ended: nothing of it is answered any more.
    void Reset() {
        burst_ = {};
        deferred_.reset();
        cautious_ = false;
    }

  private:
    Time quiet_;
    Time longest_;
    Burst burst_;
    std::optional<Reply> deferred_;
    Time deferredSince_{};
    bool cautious_ = false;
    bool lastWasAck_ = false;
};

}  // namespace vorlund
