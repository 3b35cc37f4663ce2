// A mark in the spool directory that the service runs, removed when it ends
// in order. Found at start, it tells that the run before was cut short (a
// kill, a crash, a power cut), perhaps in the middle of a sender's session:
// such a sender may wait for an answer that will never come, and the first
// reception leaves it a quiet spell to give up in
// (DownloadSession::AfterRunCutShort).
#pragma once

#include <string>

#include "platform/platform.h"

namespace vorlund {

class RunMarker {
  public:
    static constexpr char kFileName[] = ".vorlund.run";

    // Marks the run in `spoolDir`; a mark that cannot be made only means
    // that the next start cannot tell.
    RunMarker(const Platform& platform, const std::string& spoolDir);
    ~RunMarker();
    RunMarker(const RunMarker&) = delete;
    RunMarker& operator=(const RunMarker&) = delete;

    bool PreviousRunCutShort() const { return previousCutShort_; }

  private:
    const Platform& platform_;
    std::string path_;
    bool previousCutShort_ = false;
    bool marked_ = false;
};

}  // namespace vorlund
