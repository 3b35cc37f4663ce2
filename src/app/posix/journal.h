// The service's lines on stderr, for whoever runs it: a person at a terminal
// or the system journal. Each line starts with its syslog priority ("<3>"),
// which the journal files it under; the Swedish message comes first and
// unchanged, then, after ": ", what an operator needs to act on it (a device
// path, a file, the system's error text).
//
// The journal also keeps the service's state in one line, for a service
// manager to show: the current fault, or what was set last (the latest
// delivery, say).
#pragma once

#include <cstdio>
#include <functional>
#include <string>
#include <string_view>

#include "app/posix/recurring_fault.h"
#include "app/posix/repeated_event.h"
#include "app/shell.h"

namespace vorlund {

enum class Priority { kError = 3, kWarning = 4, kNotice = 5, kInfo = 6 };

class Journal {
  public:
    using Clock = RecurringFault::Clock;

    explicit Journal(std::FILE* stream, std::function<Clock::time_point()> now = Clock::now);

    // One line, in UTF-8; line ends inside the texts become blanks. An error
    // line becomes the state too.
    void Write(Priority priority, std::string_view cp1252Text, std::string_view detail = {});

    // A message box's text: an error line with its detail. A retried failure
    // is written as RecurringFault allows, with its attempts so far.
    void WriteMessage(std::string_view cp1252Text, std::string_view detail = {},
                      Recurrence recurrence = Recurrence::kOnce);
    // A transfer that failed or was refused for `reason`: a warning line, no
    // more often than RepeatedEvent allows for that reason, since a terminal
    // retries on its own.
    void WriteTransferFailure(std::string_view cp1252Text, std::string_view detail,
                              std::string_view reason);
    // A transfer succeeded: the failures before it are an episode past.
    void EndTransferFailures() { transfers_.Clear(); }
    // The retried failure is over: one information line, "text: detail
    // (efter N försök på T)", when the failure had been written; the state
    // goes back to what it was before.
    void EndRecurringFault(std::string_view cp1252Text, std::string_view detail);

    void SetStatus(std::string_view cp1252Text, std::string_view detail = {});
    // What the state says besides, whatever it is (the deliveries that wait
    // for an operator); empty for nothing.
    void SetStatusNote(std::string_view cp1252Note);
    // The state as the service manager shows it.
    std::string Status() const;
    Clock::time_point Now() const { return now_(); }
    // Called with the state's UTF-8 text whenever it changes.
    void SetStatusSink(std::function<void(const std::string&)> sink) {
        statusSink_ = std::move(sink);
    }

  private:
    void Emit(Priority priority, const std::string& body);
    void ChangeStatus(std::string status);

    std::FILE* stream_;
    std::function<Clock::time_point()> now_;
    RecurringFault recurring_;
    RepeatedEvent transfers_;

    std::string status_;
    std::string note_;
    // While a retried failure is the state: the state it replaced.
    bool faultIsStatus_ = false;
    std::string statusBeforeFault_;
    std::function<void(const std::string&)> statusSink_;
};

}  // namespace vorlund
