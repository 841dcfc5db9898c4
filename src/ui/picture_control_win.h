#pragma once

// Picture controls (static controls showing a bitmap) of a dialog.

#include <windows.h>

namespace kantiq {

// The dialogs' pictures are centred in their controls, never scaled: a
// control smaller than its bitmap (the dialog units of the template come out
// smaller in pixels with some fonts) shows the bitmap's middle, and the
// artwork keeps its text away from the edges for that. This shrinks every
// picture control of the dialog that is larger than its bitmap around its
// centre, so that its frame closes round the picture instead of leaving a
// margin of background inside it.
void fitPicturesToBitmaps(HWND dialog);

// The size of the bitmap a picture control shows; false when it is no
// picture control or shows none.
bool pictureBitmapSize(HWND control, SIZE& size);

}  // namespace kantiq
