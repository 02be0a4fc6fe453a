// SPDX-License-Identifier: MIT
#include "ui/resultbubble.h"
#include "ui_mainwindow.h"

#include "ui/decorative.h"
#include "ui/deferredpolish.h"
#include "ui/mainwindow.h"
#include "ui/pairprogress.h"
#include "ui/themes.h"

#include <QDebug>
#include <QGraphicsOpacityEffect>
#include <QPixmap>
#include <QPropertyAnimation>
#include <QTimer>
#include <QTransform>

namespace {

const char *const kWorkingTextSheet = "QLabel{border-image:#ffffff;font-size:16px;color:#838CB7}";
const char *const kFailedTextSheet = "QLabel{border-image:#ffffff;font-size:16px;color:#FF8473}";

// The width the pages are laid out in, and centred on.
constexpr int kPageWidth = 1200;

// The bubble: its top, height, and the room around its text (the icon on the left).
constexpr int kBubbleY = 540;
constexpr int kBubbleHeight = 45;
constexpr int kBubbleTextLeft = 50;
constexpr int kBubbleTextRight = 18;
// How far a result slides down as it fades.
constexpr int kBubbleSlide = 30;
// The spinner's turn: 6 degrees a tick.
constexpr int kRotateMs = 14;

} // namespace

ResultBubble::ResultBubble(MainWindow *window, Ui::MainWindow *form, DeferredPolish *polish)
    : QObject(window)
    , mWindow(window)
    , ui(form)
    , mPolish(polish)
{
    mOpacityEffect = new QGraphicsOpacityEffect(window);
    mOpacityEffect->setOpacity(1.0);
    ui->widStatus->setGraphicsEffect(mOpacityEffect);
    mOpacityAnimation = new QPropertyAnimation(mOpacityEffect, "opacity");
    mOpacityAnimation->setStartValue(1);
    mOpacityAnimation->setEndValue(0);
    mPosAnimation = new QPropertyAnimation(ui->widStatus, "pos");

    // Beside the working bubble: the time the receiver still waits, and a way to stop.
    mProgress = new PairProgress(ui->pagePair);
    mProgress->hide();
    mStop = new QPushButton(ui->pagePair);
    mStop->setObjectName(QStringLiteral("btnStop"));
    mStop->hide();

    mTimer = new QTimer;
    connect(mTimer, &QTimer::timeout, this, &ResultBubble::TimerTimeOut);
    mRotater = new QTimer;
    connect(mRotater, &QTimer::timeout, this, &ResultBubble::RotaterTimeOut);
}

ResultBubble::~ResultBubble()
{
    // Made without a parent; they live exactly as long as the bubble.
    delete mOpacityAnimation;
    delete mPosAnimation;
    delete mTimer;
    delete mRotater;
}

void ResultBubble::applyTheme(const ThemeSheets &sheets)
{
    setSheet(mStop, sheets.stop);
    mProgress->setColors(sheets.progressFill, sheets.progressTrack);
}

void ResultBubble::start()
{
    if (!mPairing)
        mRunPage = mWindow->currentPage();
    mPairing = true;
    mResult = Result();
    setSheet(ui->pairType, "border-image:transparent;border-color:transparent;border: 0px");
    setSheet(ui->pairStatus, kWorkingTextSheet);
    mOpacityEffect->setOpacity(1.0);
    mOpacityAnimation->stop();
    mPosAnimation->stop();
    mTimer->stop();
    ui->widStatus->move(ui->widStatus->x(), kBubbleY);
    mProgressAttempt = 0;
    mProgressAttempts = 0;
    mProgress->setLeft(1);
    describeProgress();
    showBubble();
}

void ResultBubble::setProgress(int attempt, int attempts)
{
    if (!mPairing || attempts <= 0)
        return;
    mProgressAttempt = qBound(0, attempt, attempts);
    mProgressAttempts = attempts;
    mProgress->setLeft(qreal(attempts - mProgressAttempt) / attempts);
    describeProgress();
}

// Told to readers in fifths of the wait (about 6 s at the receiver's pace),
// not at every poll.
void ResultBubble::describeProgress()
{
    const int attempts = qMax(mProgressAttempts, 1);
    const int left = mProgressAttempts > 0 ? mProgressAttempts - mProgressAttempt : attempts;
    const int fifths = (left * 5 + attempts - 1) / attempts;
    const QString text = QCoreApplication::translate("MainWindow", "%1% of the waiting time left").arg(fifths * 20);
    if (mProgress->accessibleDescription() != text)
        mProgress->setAccessibleDescription(text);
}

QString ResultBubble::bubbleText() const
{
    if (mPairing)
        return QCoreApplication::translate("MainWindow", "In the progress of matching code...");
    const PairOutcome &outcome = mResult.outcome;
    return outcome.describe(QCoreApplication::translate("MainWindow", PairOutcome::words(outcome.reason)));
}

bool ResultBubble::runOnPage() const
{
    return (mPairing || mResult.shown) && mRunPage != 0 && mWindow->currentPage() == mRunPage;
}

// The one place the bubble is sized: around whatever it says, centred under
// the pairing button, the run's controls beside it. A result keeps sliding
// down from where it is.
void ResultBubble::fitBubble()
{
    mPolish->polishPart(ui->widStatus);
    ui->pairStatus->ensurePolished();
    const int textWidth = ui->pairStatus->fontMetrics().horizontalAdvance(bubbleText());
    const int width = kBubbleTextLeft + textWidth + kBubbleTextRight;
    const int x = (kPageWidth - width) / 2;
    ui->pairStatus->setGeometry(kBubbleTextLeft, 11, textWidth, 21);
    ui->widStatus->setGeometry(x, mPairing ? kBubbleY : ui->widStatus->y(), width, kBubbleHeight);
    mPosAnimation->setStartValue(QPoint(x, kBubbleY));
    mPosAnimation->setEndValue(QPoint(x, kBubbleY + kBubbleSlide));

    mStop->ensurePolished();
    const int stopWidth = mStop->fontMetrics().horizontalAdvance(mStop->text()) + 28;
    mStop->setGeometry(x + width + 10, kBubbleY + 8, stopWidth, 28);
    mProgress->setGeometry(x + 24, kBubbleY + kBubbleHeight + 4, width - 48, 4);
}

void ResultBubble::showBubble()
{
    const bool shown = runOnPage();
    const bool running = shown && mPairing;
    if (mPairing || mResult.shown)
        fitBubble();
    if (shown)
        setAnnouncedText(ui->pairStatus, bubbleText());
    else
        ui->pairStatus->clear();
    ui->widStatus->setVisible(shown);
    if (!running && mStop->hasFocus())
        (ui->btnPair->isEnabled() ? static_cast<QWidget *>(ui->btnPair) : ui->btnReturn)->setFocus(Qt::OtherFocusReason);
    mStop->setVisible(running);
    mProgress->setVisible(running);
    if (running && !mRotater->isActive())
        mRotater->start(kRotateMs);
    else if (!running)
        mRotater->stop();
}

void ResultBubble::showResult(const PairOutcome &outcome)
{
    const bool success = outcome.ok();
    // A result with no run shown belongs to the page it arrives on.
    if (!mPairing && !mResult.shown)
        mRunPage = mWindow->currentPage();
    mPairing = false;
    mResultLock = true;
    mResult = Result{true, outcome};
    const int duration = success ? 4000 : 6000;
    mPolish->polishPart(ui->widStatus);
    ui->pairType->clear();
    setSheet(ui->pairType, success
                                    ? "border-image: url(:/newImage/paired_success.png);background-color:transparent"
                                    : "border-image: url(:/newImage/paired_fail.png);background-color:transparent");
    setSheet(ui->pairStatus, success ? kWorkingTextSheet : kFailedTextSheet);
    // Told to readers by the text alone: the bubble around it has no name of its own.
    showBubble();

    mOpacityAnimation->setDuration(duration);
    mPosAnimation->setDuration(duration);
    mOpacityAnimation->start();
    mPosAnimation->start();
    mTimer->start(duration);
    // Tied to the window: a window that is gone is not touched.
    QTimer::singleShot(1100, this, [this] {
        mResultLock = false;
        emit sigUnlocked();
    });
}

void ResultBubble::retranslate()
{
    mStop->setText(QCoreApplication::translate("MainWindow", "Stop"));
    mProgress->setAccessibleName(QCoreApplication::translate("MainWindow", "Time left to pair"));
    describeProgress();
    // The words change; the result's fade and the button's pause go on as they were.
    showBubble();
}

// The next frame paints the turned picture: the label schedules it.
void ResultBubble::RotaterTimeOut()
{
    QPixmap pixmap = sharpPixmap(QStringLiteral(":/newImage/paired_working.png"), ui->pairType->devicePixelRatioF());
    const qreal ratio = pixmap.devicePixelRatio();
    ui->pairType->setAlignment(Qt::AlignCenter);
    pixmap = pixmap.scaled(QSize(24, 24) * ratio, Qt::IgnoreAspectRatio, Qt::FastTransformation);
    mRotateAngle = (mRotateAngle + 6) % 360;
    QTransform rotation;
    rotation.rotate(mRotateAngle);
    QPixmap turned = pixmap.transformed(rotation, Qt::FastTransformation);
    turned.setDevicePixelRatio(ratio);
    ui->pairType->setPixmap(turned);
}

void ResultBubble::TimerTimeOut()
{
    if (!mTimer->isActive())
        return;
    mTimer->stop();
    mOpacityAnimation->stop();
    mPosAnimation->stop();
    mResult = Result();
    if (!mPairing)
        mRunPage = 0;
    showBubble();
    qDebug() << "timeout";
}
