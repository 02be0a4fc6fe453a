// SPDX-License-Identifier: MIT
#include "app/highdpi.h"

#include <QGuiApplication>

// Qt 6 always scales and picks @2x pictures; the rounding is still named, so that a later
// default cannot round 1.25 and 1.5 away.
void setUpHighDpi()
{
    QGuiApplication::setHighDpiScaleFactorRoundingPolicy(Qt::HighDpiScaleFactorRoundingPolicy::PassThrough);
}
