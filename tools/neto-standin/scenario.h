// What the stand-in control does, read from a small text file so that each
// end-to-end test can script the terminal side. One directive per line, '#'
// starts a comment:
//
//   refuse-property K            writing property K fails (DISP_E_EXCEPTION)
//   refuse-download N            the N-th Download call fails outright (E_FAIL)
//   download-status N S          the N-th Download call answers status S
//   odd-result N                 the N-th Download call answers an object that
//                                reads as no number; its release is logged
//   running A                    IsProtocolRunning always answers A; without it
//                                the answer is 1 from a started Download until
//                                StopRunning or a report of code 30
//   by-reference                 events pass their arguments as VT_BYREF
//   watch-window CLASS           when the service closes the control, log whether
//                                a window of CLASS still exists in its process
//   with-sender                  events pass the control itself first, as a
//                                dispatch argument (five arguments, not four)
//   after-download N deliver MS FILE
//                                MS ms after the N-th Download returned, copy
//                                FILE to RcvDir\X.DAT and report code 1000
//   after-download N report MS CODE [FINAL]
//                                MS ms after the N-th Download, report CODE
//   crash-at STEP                at STEP of every delivery, end the process as
//                                a kill would (exit code 99; see crash.h):
//                                "arrival" once X.DAT is written, before code
//                                1000 is reported; "conversion" when the
//                                service, handling code 1000, opens X.DAT for
//                                itself alone to convert it
#pragma once

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace standin {

struct Reaction {
    enum class Kind { kDeliver, kReport };
    Kind kind = Kind::kReport;
    int afterDownload = 0;  // 1-based number of the Download call it follows
    unsigned delayMs = 0;
    std::int16_t code = 0;
    std::int16_t final = 1;
    std::string source;  // kDeliver: the file that becomes X.DAT
};

enum class CrashPoint { kNone, kArrival, kConversion };

struct Scenario {
    std::set<long> refusedProperties;
    std::set<int> refusedDownloads;
    std::map<int, std::int16_t> downloadStatus;
    std::set<int> oddResults;
    int runningAnswer = -1;  // -1: follow the protocol's own state
    bool byReference = false;
    bool withSender = false;
    std::string watchedWindow;
    std::vector<Reaction> reactions;
    CrashPoint crashAt = CrashPoint::kNone;
};

// Parses `text`; on a bad line returns false with its number in `badLine`.
bool ParseScenario(const std::string& text, Scenario& scenario, int& badLine);

}  // namespace standin
