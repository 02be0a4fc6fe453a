// SPDX-License-Identifier: MIT
// The pairing guide: one picture per step, a scene above and its caption below, in the
// picture's language. Captions come from guide.json; {Text} there stands for the catalogue's
// translation of Text, so the guide names the window's button exactly as the window does.

#include "resources/art/devices.h"
#include "resources/art/paint.h"
#include "resources/art/palette.h"
#include "resources/art/pictures.h"

#include <QJsonObject>
#include <QRegularExpression>

#include <functional>

using namespace palette;
using devices::Mark;

namespace {

const QSize kGuide(218, 336);
const QPointF kStage(109, 126); // middle of the scene area, before it moves down by kSceneDrop
const qreal kSceneDrop = 8;
const qreal kTextTop = 232;

QPointF at(const QTransform &place, QPointF designPoint)
{
    return place.map(designPoint);
}

// A magnified part of the keyboard, seen through a rounded window.
void keyboardZoom(QPainter &p, const QRectF &window, QPointF focus, qreal scale, const QStringList &pressed, Mark mark,
                  const std::function<void(const QTransform &)> &over)
{
    const QPainterPath frame = paint::roundRect(window, 22);
    QTransform place;
    place.translate(window.center().x() - focus.x() * scale, window.center().y() - focus.y() * scale);
    place.scale(scale, scale);
    p.save();
    p.setClipPath(frame);
    p.fillPath(frame, halo);
    devices::keyboardTop(p, place, pressed, true, false, mark);
    over(place);
    p.restore();
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(paper, 4));
    p.drawPath(frame);
    p.setPen(QPen(line.darker(108), 1));
    p.drawPath(paint::roundRect(window.adjusted(-2, -2, 2, 2), 24));
}

void battery(QPainter &p, QPointF centre, qreal angle)
{
    p.save();
    p.translate(centre);
    p.rotate(angle);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0x9A, 0xA3, 0xBD));
    p.drawRoundedRect(QRectF(15, -3, 4, 6), 1, 1);
    p.setBrush(paint::vertical(-7, 7, QColor(0x5B, 0xD8, 0x95), QColor(0x23, 0x9E, 0x5C)));
    p.drawRoundedRect(QRectF(-17, -7, 33, 14), 3, 3);
    p.setBrush(ink);
    p.drawRoundedRect(QRectF(-17, -7, 9, 14), 3, 3);
    p.restore();
}

void scene(QPainter &p, const QString &name, const QString &button)
{
    const QColor waveColour(accent.red(), accent.green(), accent.blue(), 210);
    if (name == "plug") {
        const QPointF port = devices::laptop(p, QRectF(8, 74, 128, 92));
        const QPointF tip(port.x() + 18, port.y());
        devices::receiver(p, tip, 52, 0);
        devices::arrow(p, QPointF(tip.x() + 44, tip.y() - 22), QPointF(port.x() + 2, tip.y() - 22), accent, 2.4);
    } else if (name == "mouse-switch") {
        const QTransform place = devices::fit(devices::kMouse, QRectF(50, 48, 118, 158));
        devices::mouseBottom(p, place, Mark::Switch);
    } else if (name == "mouse-hold") {
        const QTransform place = devices::fit(devices::kMouse, QRectF(44, 56, 110, 150));
        devices::mouseBottom(p, place, Mark::PairButton);
        const QPointF button = at(place, devices::kMousePairButton);
        devices::ripple(p, button, 9, accent);
        devices::finger(p, button + QPointF(0, 2), -24, 0.95);
        devices::timer(p, {174, 84}, 21, QStringLiteral("3s"));
    } else if (name == "mouse-flash") {
        const QTransform place = devices::fit(devices::kMouse, QRectF(30, 50, 104, 150));
        devices::mouseTop(p, place, true);
        devices::flash(p, at(place, devices::kMouseLight), 6, led);
        devices::receiver(p, {150, 178}, 44, 0);
        devices::waves(p, {150, 178}, 140, 3, 14, 9, waveColour);
    } else if (name == "click" || name == "keyboard-click") {
        const bool withKeyboard = name == "keyboard-click";
        const QRectF box = withKeyboard ? QRectF(30, 50, 158, 100) : QRectF(22, 62, 174, 118);
        const QRectF pill = devices::miniWindow(p, box, button);
        if (withKeyboard) {
            const QTransform place = devices::fit(devices::kKeyboard, QRectF(34, 160, 150, 48));
            devices::keyboardTop(p, place);
            devices::flash(p, at(place, devices::kKeyboardLight), 4.5, led);
        }
        // The pointer clicks the button's right end, leaving its caption readable.
        const QPointF click(pill.right() - 9, pill.bottom() - 7);
        devices::ripple(p, click, 7, accent);
        devices::cursor(p, click, 1.25);
    } else if (name == "keyboard-switch") {
        keyboardZoom(p, QRectF(16, 50, 186, 152), {262, 24}, 2.3, {}, Mark::Switch, [](const QTransform &) {});
    } else if (name == "keyboard-hold") {
        // Fingers come from below, as when typing, and leave the legends in sight.
        keyboardZoom(p, QRectF(12, 52, 152, 150), {40, 40}, 2.3, {"Esc", "Q"}, Mark::None, [&p](const QTransform &place) {
            devices::finger(p, at(place, devices::keyCentre("Esc") + QPointF(1, 3.4)), 200, 0.85);
            devices::finger(p, at(place, devices::keyCentre("Q") + QPointF(1, 3.6)), 165, 0.85);
        });
        devices::timer(p, {187, 127}, 20, QStringLiteral("3s"));
    } else if (name == "keyboard-flash") {
        const QTransform place = devices::fit(devices::kKeyboard, QRectF(12, 112, 194, 84));
        devices::keyboardTop(p, place, {}, false, true);
        devices::flash(p, at(place, devices::kKeyboardLight), 6, led);
        devices::receiver(p, {36, 70}, 48, 0);
        devices::waves(p, {84, 76}, -45, 3, 11, 9, waveColour);
    } else if (name == "keyboard-battery") {
        const QTransform place = devices::fit(devices::kKeyboard, QRectF(12, 96, 194, 100));
        devices::keyboardBottom(p, place, Mark::Switch);
        battery(p, {78, 68}, -8);
        battery(p, {118, 64}, 8);
        devices::arrow(p, {100, 80}, {100, 114}, accent, 2.2);
    } else {
        paint::fail("no guide scene " + name);
    }
}

QString fillIn(QString text, const Art &art, bool zh)
{
    static const QRegularExpression placeholder(QStringLiteral("\\{([^}]+)\\}"));
    QRegularExpressionMatch match;
    while ((match = placeholder.match(text)).hasMatch())
        text.replace(match.capturedStart(), match.capturedLength(), art.text(match.captured(1), zh));
    return text;
}

QImage guide(const Art &art, const QString &name, bool zh)
{
    const QJsonObject entry = art.guide.value(name).toObject();
    const QJsonObject words = entry.value(zh ? "zh" : "en").toObject();
    if (entry.isEmpty() || words.isEmpty())
        paint::fail("guide.json has no " + name);

    QImage image = paint::canvas(kGuide);
    QPainter p;
    paint::begin(p, image);
    p.setPen(QPen(line, 1));
    p.setBrush(panel);
    p.drawRoundedRect(QRectF(0.5, 0.5, kGuide.width() - 1, kGuide.height() - 1), 14, 14);

    QRadialGradient disc(kStage, 78);
    disc.setColorAt(0, halo);
    disc.setColorAt(0.85, halo);
    disc.setColorAt(1, QColor(halo.red(), halo.green(), halo.blue(), 0));
    p.save();
    p.translate(0, kSceneDrop);
    p.setPen(Qt::NoPen);
    p.setBrush(disc);
    p.drawEllipse(kStage, 78, 78);
    scene(p, entry.value("scene").toString(), art.text(QStringLiteral("Matching code"), zh));
    p.restore();

    const QPointF badge(28, 28);
    p.setPen(Qt::NoPen);
    p.setBrush(paint::vertical(14, 42, accent.lighter(115), accentDeep));
    p.drawEllipse(badge, 14, 14);
    paint::text(p, QRectF(badge.x() - 14, badge.y() - 14, 28, 28), Qt::AlignCenter,
                QString::number(entry.value("step").toInt()), paint::font(15), paper, 0.5, 1);

    const QString title = fillIn(words.value("title").toString(), art, zh);
    const QString body = fillIn(words.value("text").toString(), art, zh);
    const QFont titleFont = paint::font(15);
    const QFont bodyFont = paint::font(12);
    const qreal width = 190;
    const qreal titleHeight = paint::textHeight(title, titleFont, width, 1.3);
    paint::text(p, QRectF(14, kTextTop, width, titleHeight), Qt::AlignHCenter | Qt::AlignTop, title, titleFont, ink, 0.5,
                1.3);
    const qreal bodyTop = kTextTop + titleHeight + 4;
    paint::text(p, QRectF(14, bodyTop, width, 326 - bodyTop), Qt::AlignHCenter | Qt::AlignTop, body, bodyFont, caption,
                0, 1.45);
    return image;
}

} // namespace

void addGuides(Registry &r, const Art &art)
{
    for (auto it = art.guide.constBegin(); it != art.guide.constEnd(); ++it) {
        if (!it.value().isObject())
            continue;
        const QString name = it.key();
        r[name] = [&art, name] { return guide(art, name, true); };
        r[name + "_en"] = [&art, name] { return guide(art, name, false); };
    }
}
