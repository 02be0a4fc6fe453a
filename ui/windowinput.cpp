// SPDX-License-Identifier: MIT
// The window's focus, keys and pointer, and what screen readers are told of its controls.
#include "ui/mainwindow.h"
#include "ui_mainwindow.h"

#include "ui/focusring.h"
#include "ui/qtmajor.h"
#include "ui/receiverline.h"
#include "ui/resultbubble.h"
#include "ui/themes.h"

#include <QDebug>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QShortcut>

namespace {

// What a screen reader says for the image-only controls and what the others do.
struct Spoken {
    const char *object;
    const char *name; // empty: the control's own text
    const char *description;
};

const Spoken kSpoken[] = {
    {"btnReturn", QT_TRANSLATE_NOOP("MainWindow", "Back"), QT_TRANSLATE_NOOP("MainWindow", "Back to the home page")},
    {"btnLanguage", QT_TRANSLATE_NOOP("MainWindow", "Language"),
     QT_TRANSLATE_NOOP("MainWindow", "Choose the language of the window")},
    {"btnZH", "", QT_TRANSLATE_NOOP("MainWindow", "Show the window in Chinese")},
    {"btnEN", "", QT_TRANSLATE_NOOP("MainWindow", "Show the window in English")},
    {"btnModify", QT_TRANSLATE_NOOP("MainWindow", "Theme"),
     QT_TRANSLATE_NOOP("MainWindow", "Choose the colours of the window")},
    {"btnBlack", QT_TRANSLATE_NOOP("MainWindow", "Black theme"), ""},
    {"btnBlue", QT_TRANSLATE_NOOP("MainWindow", "Blue theme"), ""},
    {"btnSkyblue", QT_TRANSLATE_NOOP("MainWindow", "Sky blue theme"), ""},
    {"btnMini", QT_TRANSLATE_NOOP("MainWindow", "Minimise"), QT_TRANSLATE_NOOP("MainWindow", "Minimise the window")},
    {"btnClose", QT_TRANSLATE_NOOP("MainWindow", "Close"), QT_TRANSLATE_NOOP("MainWindow", "Close Bondara")},
    {"mouseCode", "", QT_TRANSLATE_NOOP("MainWindow", "Pair a mouse with the receiver")},
    {"keyboardCode", "", QT_TRANSLATE_NOOP("MainWindow", "Pair a keyboard with the receiver")},
    {"btnPair", "", QT_TRANSLATE_NOOP("MainWindow", "Start pairing the device with the receiver")},
    {"btnStop", QT_TRANSLATE_NOOP("MainWindow", "Stop pairing"),
     QT_TRANSLATE_NOOP("MainWindow", "Stop waiting for the device")},
};

} // namespace

void MainWindow::setUpKeyboard()
{
    mFocusRing = new FocusRing(ui->centralWidget);
    // A reader is told of the focus itself.
    setDecorative(mFocusRing);
    const ThemeSheets sheets = themeSheets(mTheme);
    mFocusRing->setColors(sheets.ring, sheets.ringHalo);
    // Reading order: the title bar from left to right, each popup after the
    // button that opens it, then the page. Hidden and disabled controls are
    // passed over.
    const QList<QPushButton *> order = {ui->btnReturn,  ui->btnLanguage, ui->btnZH,     ui->btnEN,    ui->btnModify,
                                        ui->btnBlack,   ui->btnBlue,     ui->btnSkyblue, ui->btnMini, ui->btnClose,
                                        ui->mouseCode, ui->keyboardCode, ui->btnPair,   mBubble->stopButton()};
    for (QPushButton *button : order) {
        button->setFocusPolicy(Qt::StrongFocus);
        // Enter clicks it as Space does.
        button->setAutoDefault(true);
    }
    for (int i = 1; i < order.size(); ++i)
        setTabOrder(order[i - 1], order[i]);
    // The receiver's choice comes before the button it pairs with.
    QWidget *choice = mReceiverLine->findChild<QWidget *>(QStringLiteral("receiverChoice"));
    setTabOrder(ui->keyboardCode, choice);
    setTabOrder(choice, ui->btnPair);
    // The frameless window has no menu of its own to close it from.
    for (const QKeySequence &keys : {QKeySequence(Qt::CTRL | Qt::Key_Q), QKeySequence(Qt::ALT | Qt::Key_F4)}) {
        auto *shortcut = new QShortcut(keys, this);
        connect(shortcut, &QShortcut::activated, this, &MainWindow::on_btnClose_clicked);
    }
    ui->mouseCode->setFocus(Qt::OtherFocusReason);
}

void MainWindow::retranslateAccessible()
{
    for (const Spoken &spoken : kSpoken) {
        auto *widget = findChild<QWidget *>(QLatin1String(spoken.object));
        if (*spoken.name)
            widget->setAccessibleName(tr(spoken.name));
        widget->setAccessibleDescription(*spoken.description ? tr(spoken.description) : QString());
    }
    ui->widgetLanguage->setAccessibleName(tr("Language"));
    ui->colorLabel->setAccessibleName(tr("Theme"));
}

void MainWindow::keyPressEvent(QKeyEvent *event)
{
    if (event->key() != Qt::Key_Escape) {
        QMainWindow::keyPressEvent(event);
        return;
    }
    // An open popup first, then the page.
    if (ui->widgetLanguage->isVisible()) {
        ui->widgetLanguage->hide();
        ui->btnLanguage->setFocus(Qt::OtherFocusReason);
    } else if (ui->colorLabel->isVisible()) {
        ui->colorLabel->hide();
        ui->btnModify->setFocus(Qt::OtherFocusReason);
    } else if (mBubble->running() && mPage == mBubble->runPage()) {
        slotStopRun();
    } else if (mPage != PageHome) {
        on_btnReturn_clicked();
    } else {
        QMainWindow::keyPressEvent(event);
    }
}

void MainWindow::mousePressEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton) {
        // The window system moves the window itself where it can; moving it
        // here follows the pointer everywhere else.
        mPressed = !mSystemMove(windowHandle());
        mDragOffset = screenPointOf(*event) - pos();
        event->accept();
    }
    if (!ui->widgetLanguage->hasFocus()) {
        qDebug() << "lan nofocus";
        ui->widgetLanguage->hide();
    }
    if (!ui->colorLabel->hasFocus()) {
        qDebug() << "color nofocus";
        ui->colorLabel->hide();
    }
}

void MainWindow::mouseMoveEvent(QMouseEvent *event)
{
    if (mPressed && (event->buttons() & Qt::LeftButton)) {
        move(screenPointOf(*event) - mDragOffset);
        event->accept();
    }
}

void MainWindow::mouseReleaseEvent(QMouseEvent *)
{
    mPressed = false;
}
