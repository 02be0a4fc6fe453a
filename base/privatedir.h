// SPDX-License-Identifier: MIT
#pragma once

#include <QString>

// A directory of this user's that no other user may enter, for the
// single-instance lock and socket; empty when none can be had.
QString privateDirectory();
