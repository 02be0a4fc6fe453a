// SPDX-License-Identifier: MIT
#include "ui/qtmajor.h"

#include <QFont>
#include <QMouseEvent>

QPoint screenPointOf(const QMouseEvent &event)
{
    return event.globalPos();
}

bool namesFamily(const QFont &font)
{
    return font.resolve() & QFont::FamilyResolved;
}
