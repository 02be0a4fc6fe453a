// SPDX-License-Identifier: MIT
#pragma once

// Drawing helpers shared by the pictures: canvases, soft shadows, gradients and text.

#include <QColor>
#include <QFont>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QRectF>
#include <QString>

namespace paint {

// The interface font's family, set once the generator has registered the font.
void setFamily(const QString &family);
QFont font(qreal pixelSize, QFont::Weight weight = QFont::Normal);

// Pixels per unit of the pictures' sizes: 1, or 2 for the "@2x" set.
void setScale(qreal scale);
qreal scale();
QImage canvas(QSize size, const QColor &fill = Qt::transparent);
void begin(QPainter &painter, QImage &image);

QPainterPath roundRect(const QRectF &rect, qreal radius);
QPainterPath circle(QPointF centre, qreal radius);

// A blurred, offset copy of `shape` in `colour`, painted under what comes next.
void shadow(QPainter &painter, const QPainterPath &shape, QPointF offset, qreal blur, const QColor &colour);
// Box blur (three passes approximate a Gaussian) of a premultiplied image.
QImage blurred(const QImage &image, int radius);

QLinearGradient vertical(qreal top, qreal bottom, const QColor &from, const QColor &to);

// Text laid out in `rect` with word wrap, aligned by `flags`; `embolden` strokes the outlines
// for a heavier face than the one weight the font has. Stops the build if the text does not fit.
void text(QPainter &painter, const QRectF &rect, int flags, const QString &text, const QFont &font,
          const QColor &colour, qreal embolden = 0, qreal lineSpacing = 1.25);
// Height the text takes at `width`.
qreal textHeight(const QString &text, const QFont &font, qreal width, qreal lineSpacing = 1.25);

[[noreturn]] void fail(const QString &message);

} // namespace paint
