// SPDX-License-Identifier: MIT
#pragma once

#include <QObject>
#include <QStringList>
#include <QVector>

#include <functional>

class QPixmap;
class QWidget;

// What the first frame does not show (the pairing page, the back button and
// the popups). Their widgets are polished, which is when their style sheets
// take effect and decode their pictures, when first shown or in idle time
// after the first frame, not with the window.
class DeferredPolish : public QObject
{
public:
    // parts: parents before their children. measured: widgets among them that
    // the window measures at start, in the fonts their sheets give, and so
    // polishes with itself. firstFrame: a widget the first frame always
    // paints. pictures: asked for at the first frame, the pictures to decode
    // once every held-back widget is polished.
    DeferredPolish(QWidget *window, const QVector<QWidget *> &parts, const QVector<QWidget *> &measured,
                   QWidget *firstFrame, std::function<QStringList()> pictures);

    // Polishes what is still held back of a hidden part, before it is seen or
    // measured.
    void polishPart(QWidget *part);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void polishNextHeldBack();

    QWidget *mWindow;
    QWidget *mFirstFrameWidget;
    std::function<QStringList()> mPictures;
    QVector<QWidget *> mHiddenParts;
    QVector<QWidget *> mHeldBack;
    // Pictures the pairing pages show in this language, decoded in idle time.
    QStringList mGuidePictures;
    bool mFirstFrame = false;
};

// A new first sheet for a parent whose children keep being polished when shown.
void setFirstSheet(QWidget *parent, const QString &sheet);

// A picture for a label: the "@2x" one on a screen scaled above 1, which a
// QPixmap does not look for by itself (style sheets do).
QPixmap sharpPixmap(const QString &path, qreal ratio);
