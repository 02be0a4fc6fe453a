// SPDX-License-Identifier: MIT
#include "ui/deferredpolish.h"

#include "ui/themes.h"

#include <QCoreApplication>
#include <QEvent>
#include <QPixmap>
#include <QTimer>
#include <QWidget>

#include <utility>

DeferredPolish::DeferredPolish(QWidget *window, const QVector<QWidget *> &parts, const QVector<QWidget *> &measured,
                               QWidget *firstFrame, std::function<QStringList()> pictures)
    : QObject(window)
    , mWindow(window)
    , mFirstFrameWidget(firstFrame)
    , mPictures(std::move(pictures))
    , mHiddenParts(parts)
{
    for (QWidget *part : std::as_const(mHiddenParts)) {
        QVector<QWidget *> widgets = {part};
        for (QWidget *child : part->findChildren<QWidget *>())
            widgets << child;
        for (QWidget *widget : std::as_const(widgets)) {
            if (measured.contains(widget))
                continue;
            widget->installEventFilter(this);
            mHeldBack << widget;
        }
    }
    firstFrame->installEventFilter(this);
}

void DeferredPolish::polishPart(QWidget *part)
{
    for (int i = 0; i < mHeldBack.size();) {
        QWidget *widget = mHeldBack.at(i);
        if (widget != part && !part->isAncestorOf(widget)) {
            ++i;
            continue;
        }
        mHeldBack.remove(i);
        widget->removeEventFilter(this);
        QEvent polish(QEvent::Polish);
        QCoreApplication::sendEvent(widget, &polish);
    }
}

// One widget per turn of the event loop, so that no turn takes long.
// The guide pictures come with the page's language, so they are decoded
// (into the pixmap cache the style sheets load from) rather than polished.
void DeferredPolish::polishNextHeldBack()
{
    if (!mHeldBack.isEmpty()) {
        QWidget *widget = mHeldBack.takeFirst();
        widget->removeEventFilter(this);
        QEvent polish(QEvent::Polish);
        QCoreApplication::sendEvent(widget, &polish);
    } else if (!mGuidePictures.isEmpty()) {
        sharpPixmap(mGuidePictures.takeFirst(), mWindow->devicePixelRatioF());
    }
    if (!mHeldBack.isEmpty() || !mGuidePictures.isEmpty())
        QTimer::singleShot(0, this, &DeferredPolish::polishNextHeldBack);
}

bool DeferredPolish::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == mFirstFrameWidget) {
        if (event->type() == QEvent::Paint && !mFirstFrame) {
            mFirstFrame = true;
            mFirstFrameWidget->removeEventFilter(this);
            mGuidePictures << mPictures();
            QTimer::singleShot(0, this, &DeferredPolish::polishNextHeldBack);
        }
        return false;
    }
    auto *widget = static_cast<QWidget *>(watched);
    if (!mHeldBack.contains(widget))
        return false;
    // The window's first polish reaches every child, hidden or not: held back.
    if (event->type() == QEvent::Polish)
        return true;
    // Whatever shows a part, it is polished before it paints.
    if (event->type() == QEvent::Show) {
        for (QWidget *part : std::as_const(mHiddenParts)) {
            if (part == widget || part->isAncestorOf(widget))
                polishPart(part);
        }
    }
    return false;
}

// A widget's first sheet hands its style to the widgets below it, and Qt then
// polishes at once every one of them that has a sheet of its own, decoding its
// pictures, shown or not. Set with those sheets cleared and put back after,
// the widgets take the parent's style as they are, and are polished when shown.
void setFirstSheet(QWidget *parent, const QString &sheet)
{
    QVector<QPair<QWidget *, QString>> own;
    for (QWidget *child : parent->findChildren<QWidget *>()) {
        if (!child->styleSheet().isEmpty())
            own.append({child, child->styleSheet()});
    }
    // Children before their parents, so that clearing hands nothing down either.
    for (auto it = own.crbegin(); it != own.crend(); ++it)
        it->first->setStyleSheet(QString());
    setSheet(parent, sheet);
    for (const auto &widget : std::as_const(own))
        widget.first->setStyleSheet(widget.second);
}

QPixmap sharpPixmap(const QString &path, qreal ratio)
{
    if (ratio > 1) {
        QString sharp = path;
        sharp.insert(sharp.lastIndexOf(QLatin1Char('.')), QLatin1String("@2x"));
        QPixmap pixmap(sharp);
        if (!pixmap.isNull()) {
            pixmap.setDevicePixelRatio(2);
            return pixmap;
        }
    }
    return QPixmap(path);
}
