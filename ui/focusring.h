// SPDX-License-Identifier: MIT
#pragma once

#include <QColor>
#include <QPointer>
#include <QWidget>

// The ring around the control that has the keyboard focus. The controls draw
// themselves from pictures through style sheets, which have no focus face, so
// the ring is drawn over them: shown while the keyboard is in use, gone at the
// first mouse press.
class FocusRing : public QWidget
{
    Q_OBJECT

public:
    // parent: the widget the ring is drawn in; it covers the controls it rings.
    explicit FocusRing(QWidget *parent);

    void setColors(const QColor &ring, const QColor &halo);
    QWidget *target() const { return mTarget; }
    bool ringShown() const { return isVisible() && mTarget; }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void paintEvent(QPaintEvent *event) override;

private:
    void follow();

    QPointer<QWidget> mTarget;
    bool mKeyboard = false;
    QColor mRing;
    QColor mHalo;
};
