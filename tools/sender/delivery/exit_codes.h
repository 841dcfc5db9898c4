#pragma once

namespace kantiq::sender {

// S.exe's exit codes.
inline constexpr int kExitAllSent = 0;
inline constexpr int kExitSomeFailed = 1;
// An alarm's or a resend's messages: some did not go out and wait in the
// outbox for a later run (a test message: it did not go out).
inline constexpr int kExitSomeWaiting = kExitSomeFailed;
inline constexpr int kExitConfigError = 2;
inline constexpr int kExitBadCommandLine = 3;
inline constexpr int kExitNoRecipients = 4;
inline constexpr int kExitOutOfTime = 5;  // the hard limit stopped the sender
inline constexpr int kExitInternalError = 6;
inline constexpr int kExitSentLogFailed = 7;  // everything went out, but SendeLog.txt could not be written
// Not every message of the alarm went out, and none of those waits in the
// outbox: refused for good or given up, so sending again cannot help.
inline constexpr int kExitNotSentForGood = 8;

}  // namespace kantiq::sender
