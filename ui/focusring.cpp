// SPDX-License-Identifier: MIT
#include "ui/focusring.h"

#include <QApplication>
#include <QKeyEvent>
#include <QPainter>

namespace {
// Room around the control for the ring and its halo.
constexpr int kMargin = 4;
} // namespace

FocusRing::FocusRing(QWidget *parent)
    : QWidget(parent)
{
    setObjectName(QStringLiteral("focusRing"));
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setAttribute(Qt::WA_NoSystemBackground);
    setFocusPolicy(Qt::NoFocus);
    hide();
    qApp->installEventFilter(this);
    connect(qApp, &QApplication::focusChanged, this, [this] { follow(); });
}

void FocusRing::setColors(const QColor &ring, const QColor &halo)
{
    mRing = ring;
    mHalo = halo;
    update();
}

bool FocusRing::eventFilter(QObject *watched, QEvent *event)
{
    switch (event->type()) {
    case QEvent::KeyPress:
        if (watched->isWidgetType() && static_cast<QWidget *>(watched)->window() == window() && !mKeyboard) {
            mKeyboard = true;
            follow();
        }
        break;
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonDblClick:
        if (mKeyboard) {
            mKeyboard = false;
            follow();
        }
        break;
    case QEvent::Move:
    case QEvent::Resize:
    case QEvent::Show:
    case QEvent::Hide:
    case QEvent::EnabledChange:
        if (mTarget && watched == mTarget)
            follow();
        break;
    default:
        break;
    }
    return false;
}

void FocusRing::follow()
{
    QWidget *focus = QApplication::focusWidget();
    if (focus && (focus == this || focus->window() != window() || !parentWidget()->isAncestorOf(focus)))
        focus = nullptr;
    mTarget = focus;
    if (!mKeyboard || !focus || !focus->isVisible()) {
        hide();
        return;
    }
    const QRect rect(focus->mapTo(parentWidget(), QPoint(0, 0)), focus->size());
    setGeometry(rect.adjusted(-kMargin, -kMargin, kMargin, kMargin));
    raise();
    show();
    update();
}

void FocusRing::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setBrush(Qt::NoBrush);
    // A halo around a ring, so that it stands out on light and dark faces alike.
    const QRectF outer = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    painter.setPen(QPen(mHalo, 1));
    painter.drawRoundedRect(outer, 5, 5);
    painter.setPen(QPen(mRing, 2));
    painter.drawRoundedRect(outer.adjusted(1.5, 1.5, -1.5, -1.5), 4, 4);
    painter.setPen(QPen(mHalo, 1));
    painter.drawRoundedRect(outer.adjusted(3, 3, -3, -3), 3, 3);
}
