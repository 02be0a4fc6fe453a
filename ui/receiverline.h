// SPDX-License-Identifier: MIT
#pragma once

#include <QStringList>
#include <QWidget>

class QComboBox;
class QLabel;

// The line under a pairing page's status: the receiver the page pairs with,
// or a choice among them when several can pair its kind.
class ReceiverLine : public QWidget
{
    Q_OBJECT

public:
    explicit ReceiverLine(QWidget *parent);

    // Hidden when there is none.
    void setReceivers(const QStringList &labels, int current);
    void retranslate();
    // The control that takes the keyboard: the choice when there is one.
    QWidget *focusTarget() const;

signals:
    void sigChosen(int index);

private:
    void layOut();

    QLabel *mLabel;
    QComboBox *mChoice;
    QStringList mLabels;
    int mCurrent = -1;
};
