// SPDX-License-Identifier: MIT
// The window's own art: backgrounds, title strips, logo, buttons, popups, status signs.

#include "resources/art/mark.h"
#include "resources/art/paint.h"
#include "resources/art/palette.h"
#include "resources/art/pictures.h"

#include <QFontMetricsF>

using namespace palette;
using paint::roundRect;

namespace {

enum class Face { Normal, Hover, Pressed };

const char *suffix(Face face)
{
    return face == Face::Hover ? "_ov" : face == Face::Pressed ? "_click" : "";
}

// Where the window puts the two cards on the home page; their shadows are part of the background.
const QRectF kMouseCard(83, 154, 494, 436);
const QRectF kKeyboardCard(635, 154, 495, 436);

QImage background(const Theme &theme)
{
    QImage image = paint::canvas({1200, 700});
    QPainter p;
    paint::begin(p, image);
    QLinearGradient base(0, 0, 360, 700);
    base.setColorAt(0, theme.backgroundTop);
    base.setColorAt(1, theme.backgroundBottom);
    p.fillRect(image.rect(), base);

    auto glow = [&](QPointF centre, qreal radius, const QColor &colour) {
        QRadialGradient g(centre, radius);
        g.setColorAt(0, colour);
        g.setColorAt(1, QColor(colour.red(), colour.green(), colour.blue(), 0));
        p.fillRect(image.rect(), g);
    };
    glow({170, 690}, 560, theme.glowA);
    glow({1090, 130}, 470, theme.glowB);

    // Wireless rings from two corners.
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(theme.waves, 1.4));
    for (int r = 150; r <= 690; r += 60)
        p.drawEllipse(QPointF(1250, 760), r, r);
    for (int r = 70; r <= 250; r += 45)
        p.drawEllipse(QPointF(-30, 90), r, r);

    // A fine dot grid, strongest towards the left.
    for (int y = 84; y < 700; y += 24) {
        for (int x = 12; x < 1200; x += 24) {
            QColor dot = theme.waves;
            dot.setAlphaF(dot.alphaF() * qMax(0.0, 1.0 - x / 900.0) * 1.6);
            p.setPen(Qt::NoPen);
            p.setBrush(dot);
            p.drawEllipse(QPointF(x, y), 1.1, 1.1);
        }
    }

    const QColor cast = theme.light ? QColor(30, 90, 150, 60) : QColor(0, 0, 0, 120);
    paint::shadow(p, roundRect(kMouseCard, 27), {0, 14}, 22, cast);
    paint::shadow(p, roundRect(kKeyboardCard, 27), {0, 14}, 22, cast);
    return image;
}

QImage titleStrip(const Theme &theme)
{
    QImage image = paint::canvas({1200, 70});
    QPainter p;
    paint::begin(p, image);
    p.fillRect(image.rect(), paint::vertical(0, 70, theme.titleTop, theme.titleBottom));
    // A faint wave under the round buttons ties the strip to the background.
    p.setBrush(Qt::NoBrush);
    QColor wave = theme.waves;
    wave.setAlphaF(qMin(1.0, wave.alphaF() * 1.4));
    p.setPen(QPen(wave, 1.2));
    for (int r = 60; r <= 240; r += 36)
        p.drawEllipse(QPointF(1230, 110), r, r);
    p.fillRect(QRectF(0, 69, 1200, 1), theme.titleLine);
    return image;
}

QImage logo(bool onLight)
{
    QImage image = paint::canvas({116, 32});
    QPainter p;
    paint::begin(p, image);
    drawMark(p, QRectF(1, 2, 28, 28));
    paint::text(p, QRectF(35, 0, 81, 32), Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("Bondara"),
                paint::font(19), onLight ? ink : paper, 0.7, 1);
    return image;
}

enum class Icon { Close, Minimize, Theme, Language };

QImage roundButton(Icon icon, bool lightStrip, bool hover)
{
    QImage image = paint::canvas({32, 32});
    QPainter p;
    paint::begin(p, image);
    const QPointF c(16, 16);
    QColor fill, ring, glyph;
    if (hover && icon == Icon::Close) {
        fill = closeHover;
        ring = closeHover.darker(110);
        glyph = paper;
    } else if (lightStrip) {
        fill = hover ? skyblue.button : QColor(inkSoft.red(), inkSoft.green(), inkSoft.blue(), 22);
        ring = hover ? skyblue.button.darker(110) : QColor(inkSoft.red(), inkSoft.green(), inkSoft.blue(), 60);
        glyph = hover ? paper : inkSoft;
    } else {
        fill = QColor(255, 255, 255, hover ? 70 : 24);
        ring = QColor(255, 255, 255, hover ? 110 : 50);
        glyph = QColor(255, 255, 255, hover ? 255 : 225);
    }
    p.setPen(QPen(ring, 1));
    p.setBrush(fill);
    p.drawEllipse(c, 14.5, 14.5);

    p.setPen(QPen(glyph, 1.7, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(Qt::NoBrush);
    switch (icon) {
    case Icon::Close:
        p.drawLine(QPointF(11.8, 11.8), QPointF(20.2, 20.2));
        p.drawLine(QPointF(20.2, 11.8), QPointF(11.8, 20.2));
        break;
    case Icon::Minimize:
        p.drawLine(QPointF(11, 16), QPointF(21, 16));
        break;
    case Icon::Theme: {
        p.drawEllipse(c, 6.6, 6.6);
        QPainterPath half;
        half.moveTo(c);
        half.arcTo(QRectF(c.x() - 6.6, c.y() - 6.6, 13.2, 13.2), 90, -180);
        half.closeSubpath();
        p.fillPath(half, glyph);
        break;
    }
    case Icon::Language: {
        p.setPen(QPen(glyph, 1.4, Qt::SolidLine, Qt::RoundCap));
        p.drawEllipse(c, 7, 7);
        p.drawEllipse(c, 3.1, 7);
        p.drawLine(QPointF(9, 16), QPointF(23, 16));
        p.drawLine(QPointF(10.6, 12.4), QPointF(21.4, 12.4));
        p.drawLine(QPointF(10.6, 19.6), QPointF(21.4, 19.6));
        break;
    }
    }
    return image;
}

// The skyblue theme shows the white arrow on its light strip under the mouse: a soft dark
// rim keeps it visible there, and vanishes on the dark strips.
QImage backArrow(const QColor &colour, bool rim)
{
    QImage image = paint::canvas({11, 18});
    QPainter p;
    paint::begin(p, image);
    QPainterPath chevron;
    chevron.moveTo(8.4, 2.2);
    chevron.lineTo(2.4, 9);
    chevron.lineTo(8.4, 15.8);
    QPainterPathStroker stroker;
    stroker.setWidth(2.3);
    stroker.setCapStyle(Qt::RoundCap);
    stroker.setJoinStyle(Qt::RoundJoin);
    const QPainterPath shape = stroker.createStroke(chevron);
    if (rim)
        paint::shadow(p, shape, {0, 0.5}, 1.2, QColor(0, 40, 90, 150));
    p.fillPath(shape, colour);
    return image;
}

// A button face: a rounded body over its own soft shadow, lighter under the mouse,
// darker and sunk a little while pressed.
QImage buttonFace(QSize size, QRectF body, const QColor &normal, const QColor &hover, const QColor &pressed, Face face)
{
    QImage image = paint::canvas(size);
    QPainter p;
    paint::begin(p, image);
    const qreal radius = body.height() / 2;
    const QColor base = face == Face::Hover ? hover : face == Face::Pressed ? pressed : normal;
    QColor cast = base.darker(170);
    if (face == Face::Pressed) {
        body.translate(0, 1.5);
        cast.setAlpha(70);
        paint::shadow(p, roundRect(body, radius), {0, 1}, 1.5, cast);
    } else {
        cast.setAlpha(face == Face::Hover ? 150 : 110);
        paint::shadow(p, roundRect(body, radius), {0, face == Face::Hover ? 3.5 : 2.5}, face == Face::Hover ? 3.5 : 2.5,
                      cast);
    }
    p.setPen(Qt::NoPen);
    p.setBrush(paint::vertical(body.top(), body.bottom(), base.lighter(112), base.darker(106)));
    p.drawRoundedRect(body, radius, radius);
    // Light catches the upper edge; a pressed face is shaded there instead.
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(face == Face::Pressed ? QColor(0, 0, 0, 50) : QColor(255, 255, 255, 60), 1));
    p.save();
    p.setClipRect(QRectF(body.left(), body.top(), body.width(), radius));
    p.drawRoundedRect(body.adjusted(0.5, 0.5, -0.5, -0.5), radius - 0.5, radius - 0.5);
    p.restore();
    return image;
}

QImage popup(QSize size, qreal tipX, qreal tipHeight, qreal radius)
{
    QImage image = paint::canvas(size);
    QPainter p;
    paint::begin(p, image);
    QPainterPath bubble = roundRect(QRectF(0.5, tipHeight + 0.5, size.width() - 1, size.height() - tipHeight - 1), radius);
    QPainterPath tip;
    tip.moveTo(tipX - tipHeight, tipHeight + 1);
    tip.lineTo(tipX, 0.5);
    tip.lineTo(tipX + tipHeight, tipHeight + 1);
    tip.closeSubpath();
    bubble = bubble.united(tip);
    p.setPen(QPen(line.darker(104), 1));
    p.setBrush(paper);
    p.drawPath(bubble);
    return image;
}

QImage languageMarker()
{
    QImage image = paint::canvas({83, 23});
    QPainter p;
    paint::begin(p, image);
    const QRectF pill(6, 1.5, 71, 20);
    p.setPen(QPen(QColor(accent.red(), accent.green(), accent.blue(), 70), 1));
    p.setBrush(QColor(0xEC, 0xF0, 0xFF));
    p.drawRoundedRect(pill, 10, 10);
    return image;
}

QImage swatch(const QColor &colour, bool hover)
{
    QImage image = paint::canvas({29, 29});
    QPainter p;
    paint::begin(p, image);
    const QPointF c(14.5, 14.5);
    if (hover) {
        p.setPen(QPen(colour.lightness() > 200 ? colour.darker(120) : colour, 1.6));
        p.setBrush(Qt::NoBrush);
        p.drawEllipse(c, 13.2, 13.2);
    }
    const qreal r = hover ? 10.2 : 11;
    p.setPen(QPen(QColor(0, 0, 0, 30), 1));
    QRadialGradient fill(c - QPointF(3, 4), r * 1.6);
    fill.setColorAt(0, colour.lighter(125));
    fill.setColorAt(1, colour);
    p.setBrush(fill);
    p.drawEllipse(c, r, r);
    return image;
}

QImage statusBubble()
{
    QImage image = paint::canvas({154, 48});
    QPainter p;
    paint::begin(p, image);
    const QRectF body(3, 3, 148, 40);
    paint::shadow(p, roundRect(body, 14), {0, 2}, 2.5, QColor(40, 60, 140, 45));
    p.setPen(QPen(line, 1));
    p.setBrush(paper);
    p.drawRoundedRect(body, 14, 14);
    return image;
}

QImage spinner()
{
    QImage image = paint::canvas({24, 24});
    QPainter p;
    paint::begin(p, image);
    const QPointF c(12, 12);
    p.setPen(QPen(QColor(accent.red(), accent.green(), accent.blue(), 36), 3));
    p.drawEllipse(c, 8.5, 8.5);
    // A comet: full colour at its head, fading along the tail.
    QConicalGradient tail(c, 90);
    tail.setColorAt(0, accent);
    tail.setColorAt(0.75, QColor(accent.red(), accent.green(), accent.blue(), 0));
    tail.setColorAt(1, QColor(accent.red(), accent.green(), accent.blue(), 0));
    p.setPen(QPen(QBrush(tail), 3, Qt::SolidLine, Qt::FlatCap));
    p.drawArc(QRectF(3.5, 3.5, 17, 17), 90 * 16, 270 * 16);
    p.setPen(Qt::NoPen);
    p.setBrush(accent);
    p.drawEllipse(QPointF(12, 3.5), 1.5, 1.5);
    return image;
}

QImage resultIcon(bool ok)
{
    QImage image = paint::canvas({23, 22});
    QPainter p;
    paint::begin(p, image);
    const QPointF c(11.5, 11);
    const QColor colour = ok ? success : failure;
    p.setPen(Qt::NoPen);
    p.setBrush(paint::vertical(0, 22, colour.lighter(112), colour.darker(106)));
    p.drawEllipse(c, 10.5, 10.5);
    p.setPen(QPen(paper, 2.2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    if (ok) {
        p.drawPolyline(QPolygonF(QVector<QPointF>{QPointF(6.6, 11.4), QPointF(10, 14.6), QPointF(16.4, 7.8)}));
    } else {
        p.drawLine(QPointF(8, 7.5), QPointF(15, 14.5));
        p.drawLine(QPointF(15, 7.5), QPointF(8, 14.5));
    }
    return image;
}

QImage connectionDot(const QColor &colour)
{
    QImage image = paint::canvas({16, 16});
    QPainter p;
    paint::begin(p, image);
    const QPointF c(8, 8);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(colour.red(), colour.green(), colour.blue(), 60));
    p.drawEllipse(c, 7.5, 7.5);
    p.setBrush(paint::vertical(3, 13, colour.lighter(115), colour.darker(108)));
    p.drawEllipse(c, 4.6, 4.6);
    return image;
}

// The window writes the same text over the banner, centred in the same font, so both coincide.
QImage warningBanner(QSize size, const QString &text)
{
    QImage image = paint::canvas(size);
    QPainter p;
    paint::begin(p, image);
    const QFont face = paint::font(12);
    if (QFontMetricsF(face).horizontalAdvance(text) > size.width() - 8)
        paint::fail("the warning does not fit its banner: " + text);
    p.setPen(QPen(QColor(0xFF, 0xD6, 0xCE), 1));
    p.setBrush(QColor(0xFF, 0xF3, 0xF0));
    p.drawRoundedRect(QRectF(0.5, 0.5, size.width() - 1, size.height() - 1), 11.5, 11.5);
    // The words are the label's own, drawn over the banner in the window's
    // font: a second copy in the picture shows doubled wherever the two
    // fonts or positions differ by a pixel.
    return image;
}

} // namespace

void addChrome(Registry &r, const Art &art)
{
    r["home_page4"] = [] { return background(black); };
    r["home_page6"] = [] { return background(blue); };
    r["home_page5"] = [] { return background(skyblue); };
    r["title"] = [] { return titleStrip(black); };
    r["title2"] = [] { return titleStrip(blue); };
    r["title3"] = [] { return titleStrip(skyblue); };
    r["logo"] = [] { return logo(false); };
    r["logo3"] = [] { return logo(true); };

    const std::pair<const char *, Icon> icons[] = {
        {"close", Icon::Close}, {"minimize", Icon::Minimize}, {"modifyColor", Icon::Theme}, {"modifyLan", Icon::Language}};
    for (const auto &[base, icon] : icons) {
        const Icon i = icon;
        r[QString(base)] = [i] { return roundButton(i, false, false); };
        r[QString(base) + "_ov"] = [i] { return roundButton(i, false, true); };
        r[QString(base) + "2"] = [i] { return roundButton(i, true, false); };
        r[QString(base) + "2_ov"] = [i] { return roundButton(i, true, true); };
    }
    r["Return"] = [] { return backArrow(paper, true); };
    r["Return_ov"] = [] { return backArrow(returnHover, false); };

    const std::pair<const char *, const Theme *> cardButtons[] = {
        {"mouseCode", &black}, {"mouseCode1", &blue}, {"mouseCode2", &skyblue}};
    for (const auto &[base, theme] : cardButtons) {
        for (Face face : {Face::Normal, Face::Hover, Face::Pressed}) {
            const Theme *t = theme;
            r[QString(base) + suffix(face)] = [t, face] {
                return buttonFace({202, 56}, QRectF(6, 4, 190, 44), t->button, t->buttonHover, t->buttonPressed, face);
            };
        }
    }
    for (Face face : {Face::Normal, Face::Hover, Face::Pressed}) {
        r[QString("code") + suffix(face)] = [face] {
            return buttonFace({146, 40}, QRectF(3, 2, 140, 33), accent, accent.lighter(115), accentDeep.darker(108), face);
        };
        r[QString("code_en") + suffix(face)] = [face] {
            return buttonFace({200, 40}, QRectF(3, 2, 194, 33), accent, accent.lighter(115), accentDeep.darker(108), face);
        };
    }

    r["modifyLan_back"] = [] { return popup({83, 58}, 41, 6, 8); };
    r["modifyLan_zh"] = [] { return languageMarker(); };
    r["modifyLan_en"] = [] { return languageMarker(); };
    r["modify_label"] = [] { return popup({132, 55}, 62, 7, 10); };
    const std::pair<const char *, QColor> swatches[] = {
        {"modify_black", swatchBlack}, {"modify_blue", swatchBlue}, {"modify_skyblue", swatchSkyblue}};
    for (const auto &[base, colour] : swatches) {
        const QColor c = colour;
        r[QString(base)] = [c] { return swatch(c, false); };
        r[QString(base) + "_ov"] = [c] { return swatch(c, true); };
    }

    r["statusWidget"] = [] { return statusBubble(); };
    r["paired_working"] = [] { return spinner(); };
    r["paired_success"] = [] { return resultIcon(true); };
    r["paired_fail"] = [] { return resultIcon(false); };
    r["connected"] = [] { return connectionDot(success); };
    r["not_connected"] = [] { return connectionDot(idle); };

    const QString warning = QStringLiteral("Don't unplug the receiver during matching code");
    r["tips"] = [&art, warning] { return warningBanner({147, 24}, art.text(warning, true)); };
    r["tips_en"] = [&art, warning] { return warningBanner({310, 24}, art.text(warning, false)); };
}
