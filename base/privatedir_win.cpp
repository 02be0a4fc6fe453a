// SPDX-License-Identifier: MIT
#include "base/privatedir.h"

#include <QDir>

QString privateDirectory()
{
    // The temporary folder lives in the user's profile, which other users
    // cannot open (Qt's runtime location on Windows is the home folder).
    return QDir::tempPath();
}
