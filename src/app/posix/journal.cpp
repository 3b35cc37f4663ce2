#include "app/posix/journal.h"

#include <utility>

#include "common/cp1252.h"

namespace vorlund {
namespace {

std::string Body(std::string_view cp1252Text, std::string_view detail) {
    std::string body = Cp1252ToUtf8(cp1252Text);
    if (!detail.empty()) {
        body += ": ";
        body += detail;
    }
    return body;
}

// "45 s", "7 min", "3 h": rounded down, in the largest unit that still shows
// two minutes or more as such.
std::string DurationText(RecurringFault::Clock::duration lasted) {
    using namespace std::chrono;
    const auto seconds = duration_cast<std::chrono::seconds>(lasted).count();
    if (seconds < 120) {
        return std::to_string(seconds) + " s";
    }
    if (seconds < 120 * 60) {
        return std::to_string(seconds / 60) + " min";
    }
    return std::to_string(seconds / 3600) + " h";
}

// " (12 försök på 4 s)", " (efter 12 försök på 4 s)", or nothing for the
// first attempt.
std::string AttemptsText(const RecurringFault::Line& line) {
    if (!line.ended && line.attempts <= 1) {
        return {};
    }
    return Cp1252ToUtf8(std::string(line.ended ? " (efter " : " (") +
                        std::to_string(line.attempts) + " f\xF6rs\xF6k p\xE5 " +
                        DurationText(line.lasted) + ")");
}

}  // namespace

Journal::Journal(std::FILE* stream, std::function<Clock::time_point()> now)
    : stream_(stream), now_(std::move(now)) {}

void Journal::Write(Priority priority, std::string_view cp1252Text, std::string_view detail) {
    const std::string body = Body(cp1252Text, detail);
    Emit(priority, body);
    if (priority == Priority::kError) {
        faultIsStatus_ = false;
        ChangeStatus(body);
    }
}

void Journal::WriteMessage(std::string_view cp1252Text, std::string_view detail,
                           Recurrence recurrence) {
    if (recurrence == Recurrence::kOnce) {
        Write(Priority::kError, cp1252Text, detail);
        return;
    }
    // Each reason of its own: a new one is news, the same one is not.
    const std::optional<RecurringFault::Line> line =
        recurring_.Attempt(std::string(cp1252Text) + '\0' + std::string(detail), now_());
    if (!line) {
        return;
    }
    const std::string body = Body(cp1252Text, detail) + AttemptsText(*line);
    Emit(Priority::kError, body);
    if (!faultIsStatus_) {
        statusBeforeFault_ = status_;
        faultIsStatus_ = true;
    }
    ChangeStatus(body);
}

void Journal::WriteTransferFailure(std::string_view cp1252Text, std::string_view detail,
                                   std::string_view reason) {
    if (const std::optional<RepeatedEvent::Line> line = transfers_.Occurred(reason, now_())) {
        // Each failure is a transfer of its own: how often, not how many tries.
        Emit(Priority::kWarning,
             Body(cp1252Text, detail) +
                 (line->count > 1 ? Cp1252ToUtf8(" (" + std::to_string(line->count) +
                                                 " g\xE5nger p\xE5 ") +
                                        DurationText(line->over) + ")"
                                  : std::string()));
    }
}

void Journal::EndRecurringFault(std::string_view cp1252Text, std::string_view detail) {
    const std::optional<RecurringFault::Line> line = recurring_.End(now_());
    if (!line) {
        return;
    }
    Emit(Priority::kInfo, Body(cp1252Text, detail) + AttemptsText(*line));
    if (faultIsStatus_) {
        faultIsStatus_ = false;
        ChangeStatus(statusBeforeFault_);
    }
}

void Journal::SetStatus(std::string_view cp1252Text, std::string_view detail) {
    faultIsStatus_ = false;
    ChangeStatus(Body(cp1252Text, detail));
}

void Journal::SetStatusNote(std::string_view cp1252Note) {
    std::string note = Cp1252ToUtf8(cp1252Note);
    if (note == note_) {
        return;
    }
    note_ = std::move(note);
    if (statusSink_) {
        statusSink_(Status());
    }
}

std::string Journal::Status() const {
    if (note_.empty()) {
        return status_;
    }
    return status_.empty() ? note_ : status_ + "; " + note_;
}

void Journal::Emit(Priority priority, const std::string& body) {
    std::string line = "<" + std::to_string(static_cast<int>(priority)) + ">" + body;
    for (char& c : line) {
        if (c == '\n' || c == '\r') {
            c = ' ';
        }
    }
    line += '\n';
    std::fwrite(line.data(), 1, line.size(), stream_);
    std::fflush(stream_);
}

void Journal::ChangeStatus(std::string status) {
    for (char& c : status) {
        if (c == '\n' || c == '\r') {
            c = ' ';
        }
    }
    if (status == status_) {
        return;
    }
    status_ = std::move(status);
    if (statusSink_) {
        statusSink_(Status());
    }
}

}  // namespace vorlund
