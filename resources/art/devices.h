// SPDX-License-Identifier: MIT
#pragma once

// The things the pictures show: mice, keyboards, the receiver, a laptop, hands and signs.
// Each is drawn in its own design space and fitted into the box it is given.

#include <QPainter>
#include <QRectF>
#include <QStringList>

namespace devices {

// Sizes of the design spaces, for callers that fit or zoom them.
inline constexpr QSizeF kMouse{120, 190};
inline constexpr QSizeF kKeyboard{300, 112};

enum class Mark { None, Switch, PairButton };

// Uniform scale of `design` into the middle of `box`.
QTransform fit(const QSizeF &design, const QRectF &box);

void mouseTop(QPainter &painter, const QTransform &place, bool lightOn = false);
void mouseBottom(QPainter &painter, const QTransform &place, Mark mark = Mark::None);
// Where the mouse's light and pairing button sit, in design space.
inline constexpr QPointF kMouseLight{60, 70};
inline constexpr QPointF kMousePairButton{60, 58};

// `pressed` keys are shown in the accent colour; `labels` writes every key's legend.
void keyboardTop(QPainter &painter, const QTransform &place, const QStringList &pressed = {}, bool labels = false,
                 bool lightOn = false, Mark mark = Mark::None);
void keyboardBottom(QPainter &painter, const QTransform &place, Mark mark = Mark::None);
inline constexpr QPointF kKeyboardLight{252, 5};
inline constexpr QPointF kKeyboardSwitch{270, 5};
// Centre of a key by its legend, in design space (the first key with that legend).
QPointF keyCentre(const QString &legend);

// The USB receiver, plug first, from `plugTip` along `angle` degrees (0 points the plug left).
void receiver(QPainter &painter, QPointF plugTip, qreal length, qreal angle = 0);
// A laptop in front view; returns where its USB port is.
QPointF laptop(QPainter &painter, const QRectF &box);

void waves(QPainter &painter, QPointF centre, qreal direction, int count, qreal radius, qreal gap, const QColor &colour);
void flash(QPainter &painter, QPointF centre, qreal radius, const QColor &colour);
void ripple(QPainter &painter, QPointF centre, qreal radius, const QColor &colour);
void finger(QPainter &painter, QPointF tip, qreal angle, qreal scale);
void cursor(QPainter &painter, QPointF tip, qreal scale);
void timer(QPainter &painter, QPointF centre, qreal radius, const QString &label);
void arrow(QPainter &painter, QPointF from, QPointF to, const QColor &colour, qreal width);
// A small program window with a pairing button captioned `button`; returns the button.
QRectF miniWindow(QPainter &painter, const QRectF &box, const QString &button);

} // namespace devices
