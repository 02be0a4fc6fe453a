// SPDX-License-Identifier: MIT
// The two cards of the home page: a mouse and a keyboard, each with the receiver it pairs with.
// The card button overlaps the top edge (its lower half lies on the card) and the connection
// row sits at y 390 to 406, so the drawing keeps clear of both.

#include "resources/art/devices.h"
#include "resources/art/paint.h"
#include "resources/art/palette.h"
#include "resources/art/pictures.h"

using namespace palette;

namespace {

const QSize kCard(494, 436);

void cardBase(QPainter &p)
{
    p.setPen(Qt::NoPen);
    p.setBrush(paper);
    p.drawRoundedRect(QRectF(0, 0, kCard.width(), kCard.height()), 27, 27);
    // The card button's shadow falls on the card just under it.
    paint::shadow(p, paint::roundRect(QRectF(152, 4, 190, 22), 11), {0, 6}, 7, QColor(20, 28, 70, 55));
}

void backdrop(QPainter &p, QPointF centre, qreal radius)
{
    QRadialGradient disc(centre, radius);
    disc.setColorAt(0, halo);
    disc.setColorAt(0.8, halo.lighter(103));
    disc.setColorAt(1, QColor(halo.red(), halo.green(), halo.blue(), 0));
    p.setPen(Qt::NoPen);
    p.setBrush(disc);
    p.drawEllipse(centre, radius, radius);
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(line, 1.2, Qt::DashLine));
    p.drawEllipse(centre, radius + 22, radius + 22);
}

void bandBadge(QPainter &p, QPointF centre)
{
    const QFont face = paint::font(12);
    const QRectF pill(centre.x() - 24, centre.y() - 10, 48, 20);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(accent.red(), accent.green(), accent.blue(), 26));
    p.drawRoundedRect(pill, 10, 10);
    paint::text(p, pill, Qt::AlignCenter, QStringLiteral("2.4G"), face, accentDeep, 0.45, 1);
}

QImage mouseCard()
{
    QImage image = paint::canvas(kCard);
    QPainter p;
    paint::begin(p, image);
    cardBase(p);
    backdrop(p, {240, 212}, 150);

    // Receiver at the lower right, plug outwards, its waves reaching for the mouse.
    devices::receiver(p, {446, 360}, 74, 208);
    devices::waves(p, {374, 322}, 152, 3, 20, 15, QColor(accent.red(), accent.green(), accent.blue(), 200));
    bandBadge(p, {410, 300});

    QTransform place;
    place.translate(214, 205);
    place.rotate(-14);
    place.translate(-70, -111);
    place.scale(140.0 / devices::kMouse.width(), 222.0 / devices::kMouse.height());
    devices::mouseTop(p, place);
    return image;
}

QImage keyboardCard()
{
    QImage image = paint::canvas(kCard);
    QPainter p;
    paint::begin(p, image);
    cardBase(p);
    backdrop(p, {247, 225}, 150);

    devices::receiver(p, {440, 104}, 70, 180);
    devices::waves(p, {364, 106}, 215, 3, 18, 14, QColor(accent.red(), accent.green(), accent.blue(), 200));
    bandBadge(p, {404, 76});

    const QRectF box(47, 178, 400, 150);
    devices::keyboardTop(p, devices::fit(devices::kKeyboard, box), {}, true);
    return image;
}

} // namespace

void addCards(Registry &r, const Art &)
{
    r["keymouse"] = [] { return mouseCard(); };
    r["keyboard"] = [] { return keyboardCard(); };
}
