// SPDX-License-Identifier: MIT
#pragma once

class QLabel;
class QString;
class QWidget;

// A picture whose meaning a text beside it already gives (a logo, a card's
// drawing, a status dot, the bubble's icon): left out of what screen readers
// see, so that it is neither read as an unnamed picture nor said twice.
void setDecorative(QWidget *widget);

// Status texts are live: a label tells readers of each new text itself, so
// the same text again must not be set, or it is said again.
void setAnnouncedText(QLabel *label, const QString &text);

// While one lives, the window's plain container widgets show screen readers
// only their children that are not decorative. Made before those widgets are,
// since a reader's view of a widget is made once, when first asked for.
class DecorativeFilter
{
public:
    DecorativeFilter();
    ~DecorativeFilter();
    DecorativeFilter(const DecorativeFilter &) = delete;
    DecorativeFilter &operator=(const DecorativeFilter &) = delete;
};
