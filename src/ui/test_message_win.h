#pragma once

// The test-message dialog (dialog 119): a number typed in, the sender run
// once with the test argument, its answer in a box.

#include <windows.h>

namespace kantiq {

// Modal over the owner until the test is answered or cancelled.
void showTestMessageDialog(HWND owner);

}  // namespace kantiq
