#pragma once

// The about box (dialog 107): the banner, the version, the maker's home page.

#include <windows.h>

namespace kantiq {

// Modal over the owner until it is closed.
void showAboutBox(HWND owner);

}  // namespace kantiq
