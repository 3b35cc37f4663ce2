// Ends the hosting process as a kill or a crash would (TerminateProcess: no
// handler, no clean-up of its own), at a chosen step of a delivery, so that
// an end-to-end test can start the service again and see what it makes of
// the files left behind.
//
// The service handles code 1000 inside the event call, which the stand-in
// waits for; a step within that handling cannot be watched for from outside
// without a race. So the service's own import of CreateFileA is pointed here,
// and the end comes at the very call that begins the step.
#pragma once

#include <windows.h>

#include <string>

#include "call_log.h"

namespace standin {

// The exit code of a process the stand-in ended, for the tests to tell it
// from any other end.
inline constexpr UINT kCrashExitCode = 99;

// Logs "crash at STEP" and ends the process.
[[noreturn]] void CrashNow(const CallLog& log, const std::string& step);

// Ends the process (as CrashNow(log, "conversion")) when the service opens
// X.DAT without sharing: its conversion starts so, after the delivery is
// recorded. False, logged, when the service's import cannot be redirected.
bool CrashAtConversion(const CallLog& log);

}  // namespace standin
