// SPDX-License-Identifier: MIT
#pragma once

#include <QColor>
#include <QWidget>

// A thin bar under the working bubble: how much of the receiver's waiting
// time is left, full at the start of a run and empty when the receiver gives up.
class PairProgress : public QWidget
{
    Q_OBJECT

public:
    explicit PairProgress(QWidget *parent);

    void setColors(const QColor &fill, const QColor &track);
    // The share of the waiting time left, from 1 down to 0.
    void setLeft(qreal left);
    qreal left() const { return mLeft; }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    qreal mLeft = 1;
    QColor mFill;
    QColor mTrack;
};
