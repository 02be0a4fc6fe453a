// SPDX-License-Identifier: MIT
#include "resources/art/mark.h"

#include "resources/art/palette.h"

// Designed on a 28-unit tile, the size it has in the logo.
void drawMark(QPainter &p, const QRectF &tile)
{
    const qreal k = tile.width() / 28;
    p.save();
    QLinearGradient fill(tile.topLeft(), tile.bottomRight());
    fill.setColorAt(0, palette::accent.lighter(128));
    fill.setColorAt(1, palette::accentDeep);
    p.setPen(Qt::NoPen);
    p.setBrush(fill);
    p.drawRoundedRect(tile, 8 * k, 8 * k);
    const QPointF source(tile.left() + 8.5 * k, tile.bottom() - 8.5 * k);
    p.setBrush(palette::paper);
    p.drawEllipse(source, 2.6 * k, 2.6 * k);
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(palette::paper, 2.3 * k, Qt::SolidLine, Qt::RoundCap));
    for (qreal r : {7.5 * k, 13.0 * k})
        p.drawArc(QRectF(source.x() - r, source.y() - r, 2 * r, 2 * r), 5 * 16, 80 * 16);
    p.restore();
}
