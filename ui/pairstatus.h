// SPDX-License-Identifier: MIT
#pragma once

// What the window's status display shows; the log gives the number.
enum class PairStatus { NoReceiver = 0, Connected = 1, Working = 2, Success = 3, Failed = 4 };
