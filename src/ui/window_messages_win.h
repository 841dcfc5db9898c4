#pragma once

// The private messages Kantiq's windows and threads post to one another,
// numbered here so that no two of them share a number. Each is posted with
// wParam and lParam zero: the message only says that there is news; the news
// itself waits in the object that posted it.
//
// Messages of other kinds live elsewhere:
// - the request from the setup window to start afresh is a registered
//   message, the same in every program that uses it:
//   restartRequestMessage() in src/win32/restart_request_win.h;
// - the setup window (tools/kantiq-einrichtung) numbers its own dialog's
//   messages in setup_window_parts_win.h.

#include <windows.h>

namespace kantiq {

// To the main dialog, from the thread that raises alarms: the result box has
// a new text (TextBox, in its PendingText).
inline constexpr UINT kMsgResultText = WM_APP + 1;
// To the test-message dialog, from its worker: the sender has ended (the
// outcome is in the worker's share).
inline constexpr UINT kMsgTestSenderEnded = WM_APP + 2;
// To the main dialog, from the analysis thread: the recorder has a box to
// show for a restart that failed (AlarmMonitor::captureWarning).
inline constexpr UINT kMsgCaptureWarning = WM_APP + 3;

}  // namespace kantiq
