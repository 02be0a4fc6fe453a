// SPDX-License-Identifier: MIT
#include "app/highdpi.h"

#include <QGuiApplication>

// Qt 5 scales and picks @2x pictures only when asked.
void setUpHighDpi()
{
    QCoreApplication::setAttribute(Qt::AA_EnableHighDpiScaling);
    QCoreApplication::setAttribute(Qt::AA_UseHighDpiPixmaps);
    QGuiApplication::setHighDpiScaleFactorRoundingPolicy(Qt::HighDpiScaleFactorRoundingPolicy::PassThrough);
}
