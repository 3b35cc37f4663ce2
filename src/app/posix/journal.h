// The service's lines on stderr, for whoever runs it: a person at a terminal
// or the system journal. Each line starts with its syslog priority ("<3>"),
// which the journal files it under; the Swedish message comes first and
// unchanged, then, after ": ", what an operator needs to act on it (a device
// path, a file, the system's error text).
#pragma once

#include <cstdio>
#include <string>
#include <string_view>

namespace vorlund {

enum class Priority { kError = 3, kWarning = 4, kInfo = 6 };

class Journal {
  public:
    explicit Journal(std::FILE* stream) : stream_(stream) {}

    // One line, in UTF-8; line ends inside the texts become blanks.
    void Write(Priority priority, std::string_view cp1252Text, std::string_view detail = {});

    // A component that saw a failure which the main window goes on to report
    // leaves its detail here; the next message shown takes it.
    void SetPendingDetail(std::string detail) { pendingDetail_ = std::move(detail); }
    std::string TakePendingDetail();

  private:
    std::FILE* stream_;
    std::string pendingDetail_;
};

}  // namespace vorlund
