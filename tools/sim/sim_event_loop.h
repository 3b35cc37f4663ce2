// A deterministic event loop on a virtual clock, for running the service's
// logic in tests: things due at a virtual time run in time order (ties in
// the order they were scheduled), and every call of interest is recorded
// with the virtual time at which it happened.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

namespace vorlund::sim {

// Milliseconds since the simulation began.
using VirtualTime = std::int64_t;

struct Record {
    VirtualTime time = 0;
    std::string what;
    bool operator==(const Record&) const = default;
};
std::ostream& operator<<(std::ostream& out, const Record& record);

class SimEventLoop {
  public:
    // Identifies one scheduled action, for Cancel.
    using Entry = std::pair<VirtualTime, std::uint64_t>;

    VirtualTime Now() const { return now_; }

    void Log(std::string what) { records_.push_back({now_, std::move(what)}); }
    const std::vector<Record>& Records() const { return records_; }
    void ClearRecords() { records_.clear(); }

    // `action` runs at `time`, or as soon as the thread is free after it.
    Entry At(VirtualTime time, std::function<void()> action);
    // Cancelling an entry that has run already does nothing.
    void Cancel(const Entry& entry) { agenda_.erase(entry); }

    // The thread is blocked: the clock moves on and nothing runs.
    void Block(VirtualTime duration) { now_ += duration; }

    // The main loop: runs what is due until the quit request, or until
    // nothing is left due at or before `until`, the clock then at `until`.
    void RunUntil(VirtualTime until);
    // A modal loop inside a handler: runs what is due until `done` or the
    // quit request. Throws std::logic_error when nothing is left that could
    // end it (a box the scripted user never dismisses).
    void RunModal(const std::function<bool()>& done);

    void RequestQuit() { quitRequested_ = true; }
    bool QuitRequested() const { return quitRequested_; }

  private:
    void RunFirst();

    VirtualTime now_ = 0;
    std::uint64_t nextSequence_ = 0;
    bool quitRequested_ = false;
    std::map<Entry, std::function<void()>> agenda_;
    std::vector<Record> records_;
};

}  // namespace vorlund::sim
