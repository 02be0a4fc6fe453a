// SPDX-License-Identifier: MIT
#include "resources/art/devices.h"

#include "resources/art/paint.h"
#include "resources/art/palette.h"

#include <QtMath>

#include <vector>

using namespace palette;

namespace devices {

namespace {

QPainterPath mouseOutline()
{
    QPainterPath path;
    path.moveTo(60, 2);
    path.cubicTo(97, 2, 116, 30, 116, 82);
    path.cubicTo(116, 148, 98, 188, 60, 188);
    path.cubicTo(22, 188, 4, 148, 4, 82);
    path.cubicTo(4, 30, 23, 2, 60, 2);
    return path;
}

struct Key {
    QRectF rect;
    QString legend;
};

// A compact US layout: a function row, then five rows of 15 units.
const std::vector<Key> &keyboardKeys()
{
    static const std::vector<Key> keys = [] {
        std::vector<Key> out;
        const QRectF area(9, 11, 282, 92);
        const qreal unit = area.width() / 15;
        const qreal gap = 2.2;
        const QStringList fn = {"Esc", "F1", "F2", "F3", "F4", "F5", "F6", "F7", "F8", "F9", "F10", "F11", "F12",
                                "Ins", "Del"};
        const qreal fnHeight = 10;
        for (int i = 0; i < fn.size(); ++i)
            out.push_back({QRectF(area.left() + i * unit, area.top(), unit, fnHeight), fn[i]});
        struct Row {
            std::vector<qreal> widths;
            QStringList legends;
        };
        const std::vector<Row> rows = {
            {{1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 2},
             {"`", "1", "2", "3", "4", "5", "6", "7", "8", "9", "0", "-", "=", "Bksp"}},
            {{1.5, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1.5},
             {"Tab", "Q", "W", "E", "R", "T", "Y", "U", "I", "O", "P", "[", "]", "\\"}},
            {{1.75, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 2.25},
             {"Caps", "A", "S", "D", "F", "G", "H", "J", "K", "L", ";", "'", "Enter"}},
            {{2.25, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 2.75},
             {"Shift", "Z", "X", "C", "V", "B", "N", "M", ",", ".", "/", "Shift"}},
            {{1.25, 1.25, 1.25, 6.25, 1.25, 1.25, 1.25, 1.25},
             {"Ctrl", "Win", "Alt", "", "Alt", "Fn", "Menu", "Ctrl"}},
        };
        const qreal rowHeight = (area.height() - fnHeight - gap) / rows.size();
        qreal y = area.top() + fnHeight + gap;
        for (const Row &row : rows) {
            qreal x = area.left();
            for (size_t i = 0; i < row.widths.size(); ++i) {
                out.push_back({QRectF(x, y, row.widths[i] * unit, rowHeight), row.legends[int(i)]});
                x += row.widths[i] * unit;
            }
            y += rowHeight;
        }
        return out;
    }();
    return keys;
}

void powerSwitch(QPainter &painter, const QRectF &slot, bool on, bool marked)
{
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(0x12, 0x15, 0x22));
    painter.drawRoundedRect(slot, slot.height() / 2, slot.height() / 2);
    const qreal r = slot.height() / 2 - 0.8;
    const QPointF knob(on ? slot.right() - r - 0.8 : slot.left() + r + 0.8, slot.center().y());
    painter.setBrush(on ? success : idle);
    painter.drawEllipse(knob, r, r);
    if (marked) {
        painter.setBrush(Qt::NoBrush);
        painter.setPen(QPen(accent, 1.6));
        painter.drawRoundedRect(slot.adjusted(-3.5, -3.5, 3.5, 3.5), slot.height() / 2 + 3.5, slot.height() / 2 + 3.5);
    }
}

} // namespace

QTransform fit(const QSizeF &design, const QRectF &box)
{
    const qreal scale = qMin(box.width() / design.width(), box.height() / design.height());
    QTransform t;
    t.translate(box.center().x() - design.width() * scale / 2, box.center().y() - design.height() * scale / 2);
    t.scale(scale, scale);
    return t;
}

void mouseTop(QPainter &painter, const QTransform &place, bool lightOn)
{
    painter.save();
    painter.setTransform(place, true);
    painter.setBrush(Qt::NoBrush);
    const QPainterPath body = mouseOutline();
    paint::shadow(painter, body, {0, 7}, 9, QColor(20, 28, 70, 90));

    QLinearGradient shade(10, 0, 110, 190);
    shade.setColorAt(0, ink.lighter(165));
    shade.setColorAt(0.55, ink.lighter(118));
    shade.setColorAt(1, ink.darker(125));
    painter.fillPath(body, shade);

    painter.save();
    painter.setClipPath(body);
    // A gloss along the left shoulder.
    QRadialGradient gloss(QPointF(36, 40), 60);
    gloss.setColorAt(0, QColor(255, 255, 255, 60));
    gloss.setColorAt(1, QColor(255, 255, 255, 0));
    painter.fillRect(QRectF(0, 0, 120, 190), gloss);
    // The seams between the two buttons and the palm.
    painter.setPen(QPen(QColor(10, 12, 24, 150), 1.4));
    painter.drawLine(QPointF(60, 0), QPointF(60, 84));
    QPainterPath palm;
    palm.moveTo(0, 84);
    palm.quadTo(60, 102, 120, 84);
    painter.drawPath(palm);
    painter.setPen(QPen(QColor(255, 255, 255, 38), 1));
    painter.drawLine(QPointF(61.3, 0), QPointF(61.3, 84));
    painter.drawPath(palm.translated(0, 1.4));
    painter.restore();

    // Scroll wheel in its well.
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(0x14, 0x17, 0x26));
    painter.drawRoundedRect(QRectF(52, 20, 16, 38), 8, 8);
    QLinearGradient wheel(0, 24, 0, 54);
    wheel.setColorAt(0, QColor(0x8A, 0x93, 0xB8));
    wheel.setColorAt(0.5, QColor(0xD6, 0xDB, 0xEB));
    wheel.setColorAt(1, QColor(0x6C, 0x74, 0x98));
    painter.setBrush(wheel);
    painter.drawRoundedRect(QRectF(55.5, 24, 9, 30), 4.5, 4.5);
    painter.setPen(QPen(QColor(0x5A, 0x62, 0x84), 0.8));
    for (qreal y = 28; y < 52; y += 4)
        painter.drawLine(QPointF(56.5, y), QPointF(63.5, y));

    // Indicator light below the wheel.
    painter.setPen(Qt::NoPen);
    painter.setBrush(lightOn ? QColor(0xE6, 0xF4, 0xFF) : QColor(0x1A, 0x1E, 0x30));
    painter.drawEllipse(kMouseLight, 2.6, 2.6);

    painter.setBrush(Qt::NoBrush);
    painter.setPen(QPen(QColor(255, 255, 255, 45), 1.2));
    painter.drawPath(body);
    painter.restore();
}

void mouseBottom(QPainter &painter, const QTransform &place, Mark mark)
{
    painter.save();
    painter.setTransform(place, true);
    painter.setBrush(Qt::NoBrush);
    const QPainterPath body = mouseOutline();
    paint::shadow(painter, body, {0, 6}, 8, QColor(20, 28, 70, 80));
    QLinearGradient shade(0, 0, 120, 190);
    shade.setColorAt(0, ink.lighter(125));
    shade.setColorAt(1, ink.darker(135));
    painter.fillPath(body, shade);

    painter.setPen(Qt::NoPen);
    const QColor skate(0x4A, 0x51, 0x72);
    painter.setBrush(skate);
    painter.drawRoundedRect(QRectF(36, 10, 48, 9), 4.5, 4.5);
    painter.drawRoundedRect(QRectF(40, 172, 40, 8), 4, 4);

    // Optical sensor.
    painter.setBrush(QColor(0x12, 0x15, 0x22));
    painter.drawEllipse(QPointF(60, 100), 13, 13);
    painter.setBrush(QColor(0x3B, 0x41, 0x5E));
    painter.drawEllipse(QPointF(60, 100), 8, 8);
    QRadialGradient lens(QPointF(60, 100), 6);
    lens.setColorAt(0, QColor(0xFF, 0x6B, 0x7A));
    lens.setColorAt(1, QColor(0x9A, 0x2B, 0x45));
    painter.setBrush(lens);
    painter.drawEllipse(QPointF(60, 100), 4.5, 4.5);

    // Pairing button.
    painter.setBrush(QColor(0x12, 0x15, 0x22));
    painter.drawEllipse(kMousePairButton, 7, 7);
    painter.setBrush(mark == Mark::PairButton ? accent : QColor(0x5A, 0x62, 0x84));
    painter.drawEllipse(kMousePairButton, 4.6, 4.6);

    // Power switch with its legends.
    const QRectF slot(46, 133, 28, 12);
    powerSwitch(painter, slot, mark == Mark::Switch, mark == Mark::Switch);
    const QFont legend = paint::font(8, QFont::Bold);
    paint::text(painter, QRectF(18, 131, 26, 16), Qt::AlignRight | Qt::AlignVCenter, "OFF", legend,
                QColor(255, 255, 255, 150), 0, 1);
    paint::text(painter, QRectF(77, 131, 26, 16), Qt::AlignLeft | Qt::AlignVCenter, "ON", legend,
                mark == Mark::Switch ? QColor(0x7C, 0xF0, 0xB0) : QColor(255, 255, 255, 150), 0, 1);

    painter.setBrush(Qt::NoBrush);
    painter.setPen(QPen(QColor(255, 255, 255, 35), 1.2));
    painter.drawPath(body);
    painter.restore();
}

QPointF keyCentre(const QString &legend)
{
    for (const Key &key : keyboardKeys())
        if (key.legend == legend)
            return key.rect.center();
    paint::fail("no key " + legend);
}

void keyboardTop(QPainter &painter, const QTransform &place, const QStringList &pressed, bool labels, bool lightOn,
                 Mark mark)
{
    painter.save();
    painter.setTransform(place, true);
    painter.setBrush(Qt::NoBrush);
    const QPainterPath frame = paint::roundRect(QRectF(0, 0, 300, 112), 10);
    paint::shadow(painter, frame, {0, 6}, 8, QColor(20, 28, 70, 80));
    QLinearGradient shade(0, 0, 0, 112);
    shade.setColorAt(0, ink.lighter(150));
    shade.setColorAt(1, ink.darker(110));
    painter.fillPath(frame, shade);
    painter.setPen(QPen(QColor(255, 255, 255, 40), 1));
    painter.setBrush(Qt::NoBrush);
    painter.drawPath(paint::roundRect(QRectF(0.5, 0.5, 299, 111), 9.5));

    const QFont small = paint::font(5.5, QFont::Bold);
    const QFont letter = paint::font(7.5, QFont::Bold);
    for (const Key &key : keyboardKeys()) {
        const QRectF cap = key.rect.adjusted(1.1, 1.1, -1.1, -1.1);
        const bool down = pressed.contains(key.legend);
        painter.setPen(Qt::NoPen);
        painter.setBrush(down ? accentDeep : keyEdge);
        painter.drawRoundedRect(cap, 2.2, 2.2);
        QRectF top = cap.adjusted(0.3, 0.2, -0.3, -1.6);
        if (down)
            top.translate(0, 0.8);
        painter.setBrush(down ? accent : keyCap);
        painter.drawRoundedRect(top, 2, 2);
        if ((labels || down) && !key.legend.isEmpty()) {
            const QFont &face = key.legend.size() <= 1 ? letter : small;
            const QColor colour = down ? paper : ink.lighter(130);
            painter.setPen(colour);
            painter.setFont(face);
            painter.drawText(top, Qt::AlignCenter, key.legend);
        }
    }

    // Indicator light and power switch in the top margin.
    painter.setPen(Qt::NoPen);
    painter.setBrush(lightOn ? QColor(0xE6, 0xF4, 0xFF) : QColor(0x14, 0x17, 0x26));
    painter.drawEllipse(kKeyboardLight, 2, 2);
    powerSwitch(painter, QRectF(kKeyboardSwitch.x() - 8, kKeyboardSwitch.y() - 2.6, 16, 5.2), mark == Mark::Switch,
                mark == Mark::Switch);
    if (mark == Mark::Switch)
        paint::text(painter, QRectF(kKeyboardSwitch.x() + 11, 0.5, 16, 9), Qt::AlignLeft | Qt::AlignVCenter, "ON",
                    paint::font(6, QFont::Bold), QColor(0x7C, 0xF0, 0xB0), 0, 1);
    painter.restore();
}

void keyboardBottom(QPainter &painter, const QTransform &place, Mark mark)
{
    painter.save();
    painter.setTransform(place, true);
    painter.setBrush(Qt::NoBrush);
    const QPainterPath frame = paint::roundRect(QRectF(0, 0, 300, 112), 10);
    paint::shadow(painter, frame, {0, 6}, 8, QColor(20, 28, 70, 80));
    QLinearGradient shade(0, 0, 0, 112);
    shade.setColorAt(0, ink.lighter(118));
    shade.setColorAt(1, ink.darker(130));
    painter.fillPath(frame, shade);

    painter.setPen(Qt::NoPen);
    const QColor rubber(0x1A, 0x1D, 0x2C);
    painter.setBrush(rubber);
    painter.drawRoundedRect(QRectF(18, 8, 46, 11), 5.5, 5.5);
    painter.drawRoundedRect(QRectF(236, 8, 46, 11), 5.5, 5.5);
    painter.drawRoundedRect(QRectF(18, 94, 26, 9), 4.5, 4.5);
    painter.drawRoundedRect(QRectF(256, 94, 26, 9), 4.5, 4.5);

    // Battery cover with its latch and grip lines.
    const QRectF cover(104, 40, 84, 36);
    painter.setBrush(QColor(0x3B, 0x42, 0x60));
    painter.drawRoundedRect(cover, 5, 5);
    painter.setPen(QPen(QColor(0x1A, 0x1D, 0x2C), 1.2));
    painter.setBrush(Qt::NoBrush);
    painter.drawRoundedRect(cover, 5, 5);
    for (qreal x = 176; x < 186; x += 3)
        painter.drawLine(QPointF(x, 50), QPointF(x, 66));
    painter.setPen(QPen(QColor(255, 255, 255, 120), 1.4));
    painter.drawLine(QPointF(118, 58), QPointF(128, 58));
    painter.drawLine(QPointF(123, 53), QPointF(123, 63));
    painter.drawLine(QPointF(146, 58), QPointF(156, 58));

    const QRectF slot(204, 52, 30, 12);
    powerSwitch(painter, slot, mark == Mark::Switch, mark == Mark::Switch);
    const QFont legend = paint::font(8, QFont::Bold);
    paint::text(painter, QRectF(236, 50, 24, 16), Qt::AlignLeft | Qt::AlignVCenter, "ON", legend,
                mark == Mark::Switch ? QColor(0x7C, 0xF0, 0xB0) : QColor(255, 255, 255, 150), 0, 1);
    painter.restore();
}

void receiver(QPainter &painter, QPointF plugTip, qreal length, qreal angle)
{
    painter.save();
    painter.translate(plugTip);
    painter.rotate(angle);
    painter.scale(length / 60, length / 60);
    // Plug: metal shell with its two windows.
    QLinearGradient shell(0, -6, 0, 6);
    shell.setColorAt(0, metal.lighter(112));
    shell.setColorAt(0.5, metal);
    shell.setColorAt(1, metal.darker(118));
    painter.setPen(QPen(metal.darker(135), 0.8));
    painter.setBrush(shell);
    painter.drawRoundedRect(QRectF(0, -6, 26, 12), 1.5, 1.5);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(0x5A, 0x62, 0x84));
    painter.drawRect(QRectF(6, -3.2, 4, 2.4));
    painter.drawRect(QRectF(14, -3.2, 4, 2.4));
    // Body.
    QLinearGradient body(0, -8, 0, 8);
    body.setColorAt(0, ink.lighter(150));
    body.setColorAt(1, ink.darker(110));
    painter.setBrush(body);
    painter.drawRoundedRect(QRectF(24, -8, 36, 16), 4, 4);
    painter.setBrush(accent.lighter(120));
    painter.drawEllipse(QPointF(52, 0), 2, 2);
    painter.restore();
}

QPointF laptop(QPainter &painter, const QRectF &box)
{
    const QTransform place = fit({150, 100}, box);
    painter.save();
    painter.setTransform(place, true);
    painter.setBrush(Qt::NoBrush);
    // Lid with the screen.
    const QPainterPath lid = paint::roundRect(QRectF(18, 0, 114, 76), 7);
    paint::shadow(painter, lid, {0, 4}, 6, QColor(20, 28, 70, 60));
    painter.fillPath(lid, ink);
    QLinearGradient screen(0, 6, 0, 70);
    screen.setColorAt(0, QColor(0x8F, 0xAE, 0xFF));
    screen.setColorAt(1, accent);
    painter.setPen(Qt::NoPen);
    painter.setBrush(screen);
    painter.drawRoundedRect(QRectF(24, 6, 102, 62), 3, 3);
    // A window on the screen.
    painter.setBrush(QColor(255, 255, 255, 220));
    painter.drawRoundedRect(QRectF(44, 20, 62, 36), 3, 3);
    painter.setBrush(accent);
    painter.drawRoundedRect(QRectF(62, 43, 26, 7), 3.5, 3.5);
    painter.setBrush(line);
    painter.drawRoundedRect(QRectF(50, 27, 50, 4), 2, 2);
    painter.drawRoundedRect(QRectF(50, 34, 34, 4), 2, 2);
    // Base, seen a little from above, with the port on its right end.
    QPainterPath base;
    base.moveTo(6, 78);
    base.lineTo(144, 78);
    base.lineTo(150, 88);
    base.quadTo(150, 92, 146, 92);
    base.lineTo(4, 92);
    base.quadTo(0, 92, 0, 88);
    base.closeSubpath();
    QLinearGradient alu(0, 78, 0, 92);
    alu.setColorAt(0, QColor(0xE9, 0xEC, 0xF4));
    alu.setColorAt(1, QColor(0xB9, 0xC0, 0xD2));
    painter.fillPath(base, alu);
    painter.setBrush(QColor(0x9A, 0xA2, 0xB8));
    painter.drawRoundedRect(QRectF(62, 78, 26, 3), 1.5, 1.5);
    painter.setBrush(QColor(0x2A, 0x2F, 0x45));
    painter.drawRect(QRectF(134, 84, 10, 4));
    painter.restore();
    return place.map(QPointF(144, 86));
}

void waves(QPainter &painter, QPointF centre, qreal direction, int count, qreal radius, qreal gap, const QColor &colour)
{
    painter.save();
    painter.setBrush(Qt::NoBrush);
    for (int i = 0; i < count; ++i) {
        QColor c = colour;
        c.setAlphaF(colour.alphaF() * (1.0 - 0.22 * i));
        painter.setPen(QPen(c, qMax(1.2, gap * 0.32), Qt::SolidLine, Qt::RoundCap));
        const qreal r = radius + i * gap;
        painter.drawArc(QRectF(centre.x() - r, centre.y() - r, 2 * r, 2 * r), int((direction - 40) * 16), 80 * 16);
    }
    painter.restore();
}

void flash(QPainter &painter, QPointF centre, qreal radius, const QColor &colour)
{
    painter.save();
    QRadialGradient glow(centre, radius * 2.2);
    QColor inner = colour;
    inner.setAlpha(190);
    QColor outer = colour;
    outer.setAlpha(0);
    glow.setColorAt(0, inner);
    glow.setColorAt(0.35, QColor(colour.red(), colour.green(), colour.blue(), 90));
    glow.setColorAt(1, outer);
    painter.setPen(Qt::NoPen);
    painter.setBrush(glow);
    painter.drawEllipse(centre, radius * 2.2, radius * 2.2);
    painter.setBrush(QColor(0xF4, 0xFA, 0xFF));
    painter.drawEllipse(centre, radius * 0.45, radius * 0.45);
    painter.setPen(QPen(colour, qMax(1.4, radius * 0.2), Qt::SolidLine, Qt::RoundCap));
    for (int i = 0; i < 8; ++i) {
        const qreal a = qDegreesToRadians(22.5 + 45.0 * i);
        const QPointF d(qCos(a), qSin(a));
        painter.drawLine(centre + d * radius * 1.45, centre + d * radius * 2.05);
    }
    painter.restore();
}

void ripple(QPainter &painter, QPointF centre, qreal radius, const QColor &colour)
{
    painter.save();
    painter.setBrush(Qt::NoBrush);
    for (int i = 0; i < 2; ++i) {
        QColor c = colour;
        c.setAlphaF(i == 0 ? 0.55 : 0.25);
        painter.setPen(QPen(c, 1.6));
        painter.drawEllipse(centre, radius * (1 + 0.55 * i), radius * (1 + 0.55 * i));
    }
    painter.restore();
}

void finger(QPainter &painter, QPointF tip, qreal angle, qreal scale)
{
    painter.save();
    painter.translate(tip);
    painter.rotate(angle);
    painter.scale(scale, scale);
    QPainterPath digit;
    digit.moveTo(-11, -96);
    digit.lineTo(-11, -11);
    digit.arcTo(QRectF(-11, -22, 22, 22), 180, 180);
    digit.lineTo(11, -96);
    digit.closeSubpath();
    // The finger fades out towards the hand, so it never ends in a cut.
    QPainterPath end;
    end.addRect(QRectF(-12, -50, 24, 52));
    paint::shadow(painter, digit.intersected(end), {3, 3}, 4, QColor(60, 30, 10, 60));
    QLinearGradient along(0, 0, 0, -96);
    along.setColorAt(0, skin.lighter(103));
    along.setColorAt(0.55, skin);
    along.setColorAt(1, QColor(skin.red(), skin.green(), skin.blue(), 0));
    painter.setPen(Qt::NoPen);
    painter.setBrush(along);
    painter.drawPath(digit);
    QLinearGradient side(-11, 0, 11, 0);
    side.setColorAt(0, QColor(255, 255, 255, 0));
    side.setColorAt(1, QColor(skinShade.red(), skinShade.green(), skinShade.blue(), 110));
    painter.setBrush(side);
    painter.drawPath(digit.intersected(end));
    QLinearGradient rim(0, 0, 0, -96);
    rim.setColorAt(0, skinShade.darker(112));
    rim.setColorAt(0.5, skinShade);
    rim.setColorAt(1, QColor(skinShade.red(), skinShade.green(), skinShade.blue(), 0));
    painter.setBrush(Qt::NoBrush);
    painter.setPen(QPen(QBrush(rim), 1));
    painter.drawPath(digit);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(0xFC, 0xE6, 0xD8));
    painter.drawRoundedRect(QRectF(-6.5, -23, 13, 15), 5.5, 5.5);
    // Knuckle creases.
    painter.setPen(QPen(skinShade.darker(105), 1, Qt::SolidLine, Qt::RoundCap));
    painter.drawLine(QPointF(-5, -42), QPointF(5, -42));
    painter.drawLine(QPointF(-4, -45), QPointF(4, -45));
    painter.restore();
}

void cursor(QPainter &painter, QPointF tip, qreal scale)
{
    painter.save();
    painter.translate(tip);
    painter.scale(scale, scale);
    QPainterPath pointer;
    pointer.moveTo(0, 0);
    pointer.lineTo(0, 17);
    pointer.lineTo(4.2, 13.2);
    pointer.lineTo(7.2, 19.8);
    pointer.lineTo(10, 18.6);
    pointer.lineTo(7.1, 12.2);
    pointer.lineTo(12.6, 12.2);
    pointer.closeSubpath();
    paint::shadow(painter, pointer, {1, 1.5}, 1.5, QColor(0, 0, 30, 90));
    painter.setPen(QPen(ink, 1.2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    painter.setBrush(paper);
    painter.drawPath(pointer);
    painter.restore();
}

void timer(QPainter &painter, QPointF centre, qreal radius, const QString &label)
{
    painter.save();
    paint::shadow(painter, paint::circle(centre, radius), {0, 2}, 3, QColor(20, 28, 70, 60));
    painter.setPen(Qt::NoPen);
    painter.setBrush(paper);
    painter.drawEllipse(centre, radius, radius);
    const qreal r = radius - 3.5;
    const QRectF ring(centre.x() - r, centre.y() - r, 2 * r, 2 * r);
    painter.setBrush(Qt::NoBrush);
    painter.setPen(QPen(line, 3));
    painter.drawEllipse(ring);
    painter.setPen(QPen(accent, 3, Qt::SolidLine, Qt::RoundCap));
    painter.drawArc(ring, 90 * 16, -270 * 16);
    paint::text(painter, QRectF(centre.x() - r, centre.y() - r, 2 * r, 2 * r), Qt::AlignCenter, label,
                paint::font(radius * 0.72), ink, 0.5, 1);
    painter.restore();
}

void arrow(QPainter &painter, QPointF from, QPointF to, const QColor &colour, qreal width)
{
    painter.save();
    painter.setPen(QPen(colour, width, Qt::DashLine, Qt::RoundCap));
    const QLineF shaft(from, to);
    const QLineF head = QLineF(to, from).unitVector();
    const qreal headLength = width * 3.2;
    painter.drawLine(from, to - (to - from) / shaft.length() * headLength * 0.4);
    QPolygonF tip;
    QLineF left = head;
    left.setAngle(head.angle() + 28);
    left.setLength(headLength);
    QLineF right = head;
    right.setAngle(head.angle() - 28);
    right.setLength(headLength);
    tip << to << left.p2() << right.p2();
    painter.setPen(QPen(colour, width * 0.6, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    painter.setBrush(colour);
    painter.drawPolygon(tip);
    painter.restore();
}

QRectF miniWindow(QPainter &painter, const QRectF &box, const QString &button)
{
    painter.save();
    const QPainterPath frame = paint::roundRect(box, 8);
    paint::shadow(painter, frame, {0, 5}, 7, QColor(20, 28, 70, 70));
    painter.fillPath(frame, paper);
    painter.save();
    painter.setClipPath(frame);
    painter.fillRect(QRectF(box.left(), box.top(), box.width(), 18), ink);
    painter.restore();
    painter.setPen(Qt::NoPen);
    const QColor dots[] = {coral, QColor(0xFF, 0xC8, 0x57), success};
    for (int i = 0; i < 3; ++i) {
        painter.setBrush(dots[i]);
        painter.drawEllipse(QPointF(box.right() - 12 - 9 * i, box.top() + 9), 2.6, 2.6);
    }
    // Three guide cards in a row, as the pairing page shows them.
    const qreal cardWidth = (box.width() - 40) / 3;
    for (int i = 0; i < 3; ++i) {
        painter.setBrush(panel);
        painter.drawRoundedRect(QRectF(box.left() + 12 + i * (cardWidth + 8), box.top() + 26, cardWidth, 28), 3, 3);
    }
    const QFont face = paint::font(11);
    const qreal textWidth = QFontMetricsF(face).horizontalAdvance(button);
    const QRectF pill(box.center().x() - (textWidth + 26) / 2, box.bottom() - 34, textWidth + 26, 24);
    paint::shadow(painter, paint::roundRect(pill, 12), {0, 2}, 3, QColor(60, 90, 255, 90));
    QLinearGradient fill = paint::vertical(pill.top(), pill.bottom(), accent.lighter(112), accentDeep);
    painter.setBrush(fill);
    painter.drawRoundedRect(pill, 12, 12);
    paint::text(painter, pill, Qt::AlignCenter, button, face, paper, 0.35, 1);
    painter.restore();
    return pill;
}

} // namespace devices
