// SPDX-License-Identifier: MIT
#include "ui/receiverline.h"

#include <QComboBox>
#include <QFontMetrics>
#include <QLabel>

#include <utility>

namespace {

const int kPageWidth = 1200;
const int kHeight = 24;

} // namespace

ReceiverLine::ReceiverLine(QWidget *parent)
    : QWidget(parent)
    , mLabel(new QLabel(this))
    , mChoice(new QComboBox(this))
{
    setObjectName(QStringLiteral("receiverLine"));
    mLabel->setObjectName(QStringLiteral("receiverName"));
    mChoice->setObjectName(QStringLiteral("receiverChoice"));
    setStyleSheet(QStringLiteral("QLabel{background:transparent;font-size:14px;color:#6E7191}"
                                 "QComboBox{font-size:14px;color:#474F6C;background:white;border:1px solid #A1A3DB;"
                                 "border-radius:3px;padding:1px 6px}"));
    mChoice->setFocusPolicy(Qt::StrongFocus);
    // A reader names the choice by its label, as it shows.
    mLabel->setBuddy(mChoice);
    connect(mChoice, QOverload<int>::of(&QComboBox::activated), this, [this](int index) {
        if (index != mCurrent)
            emit sigChosen(index);
    });
    hide();
}

void ReceiverLine::setReceivers(const QStringList &labels, int current)
{
    if (labels == mLabels && current == mCurrent)
        return;
    mLabels = labels;
    mCurrent = current;
    mChoice->clear();
    mChoice->addItems(labels);
    mChoice->setCurrentIndex(current);
    retranslate();
}

void ReceiverLine::retranslate()
{
    const bool choice = mLabels.size() > 1;
    mLabel->setText(choice || mLabels.isEmpty() ? tr("Receiver:") : tr("Receiver: %1").arg(mLabels.value(mCurrent)));
    mChoice->setAccessibleName(tr("Receiver"));
    mChoice->setVisible(choice);
    setVisible(!mLabels.isEmpty());
    layOut();
}

QWidget *ReceiverLine::focusTarget() const
{
    return mChoice->isVisibleTo(parentWidget()) ? mChoice : nullptr;
}

// Centred on the page as the status above it is.
void ReceiverLine::layOut()
{
    mLabel->ensurePolished();
    mChoice->ensurePolished();
    const int label = mLabel->fontMetrics().horizontalAdvance(mLabel->text()) + 4;
    int choice = 0;
    if (mChoice->isVisibleTo(this)) {
        for (const QString &text : std::as_const(mLabels))
            choice = qMax(choice, mChoice->fontMetrics().horizontalAdvance(text));
        choice += 48; // the frame, the padding and the arrow
    }
    const int gap = choice ? 8 : 0;
    const int width = label + gap + choice;
    mLabel->setGeometry(0, 0, label, kHeight);
    mChoice->setGeometry(label + gap, 0, choice, kHeight);
    setGeometry((kPageWidth - width) / 2, 42, width, kHeight);
}
