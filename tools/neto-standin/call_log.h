// Every call the stand-in receives, one line each after a time stamp in ms,
// appended to the file named by VORLUND_STANDIN_LOG so that the end-to-end
// tests can check what the service asked of the control, in which order and
// how long apart. Each line is written and closed at once: a test may read
// it while the service still runs, and the service may be ended from outside.
#pragma once

#include <string>

namespace standin {

class CallLog {
  public:
    explicit CallLog(std::string path) : path_(std::move(path)) {}
    void Write(const std::string& line) const;

  private:
    std::string path_;
};

}  // namespace standin
