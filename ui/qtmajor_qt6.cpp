// SPDX-License-Identifier: MIT
#include "ui/qtmajor.h"

#include <QFont>
#include <QMouseEvent>

// Rounded as Qt 5's globalPos() was.
QPoint screenPointOf(const QMouseEvent &event)
{
    return event.globalPosition().toPoint();
}

// Qt 6's forms name a family as a list of one.
bool namesFamily(const QFont &font)
{
    return font.resolveMask() & (QFont::FamilyResolved | QFont::FamiliesResolved);
}
