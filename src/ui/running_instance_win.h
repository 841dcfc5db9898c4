#pragma once

// The Kantiq that is already running, seen from a second start.

namespace kantiq {

// Brings the main window of another running Kantiq to the front: restored
// when it was minimised, and with the dialog it has open (the about box, the
// test message's number) on top. False when there is no such window.
bool showRunningInstance();

}  // namespace kantiq
