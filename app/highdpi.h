// SPDX-License-Identifier: MIT
#pragma once

// Before the application object: the window is laid out in device-independent pixels with
// every picture also drawn at 2 x, and follows the desktop's scale, 1.25 and 1.5 included.
void setUpHighDpi();
