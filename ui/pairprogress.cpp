// SPDX-License-Identifier: MIT
#include "ui/pairprogress.h"

#include <QPainter>

PairProgress::PairProgress(QWidget *parent)
    : QWidget(parent)
{
    setObjectName(QStringLiteral("pairProgress"));
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setFocusPolicy(Qt::NoFocus);
}

void PairProgress::setColors(const QColor &fill, const QColor &track)
{
    mFill = fill;
    mTrack = track;
    update();
}

void PairProgress::setLeft(qreal left)
{
    left = qBound<qreal>(0, left, 1);
    if (qFuzzyCompare(left, mLeft))
        return;
    mLeft = left;
    update();
}

void PairProgress::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    const QRectF track = rect();
    const qreal radius = track.height() / 2;
    painter.setBrush(mTrack);
    painter.drawRoundedRect(track, radius, radius);
    // Shrinks towards the middle, as the bubble above it is centred.
    const qreal width = track.width() * mLeft;
    if (width <= 0)
        return;
    painter.setBrush(mFill);
    painter.drawRoundedRect(QRectF(track.center().x() - width / 2, track.top(), width, track.height()), radius, radius);
}
