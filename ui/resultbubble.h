// SPDX-License-Identifier: MIT
#pragma once

#include <QObject>
#include <QString>

#include "pairing/pairoutcome.h"

class DeferredPolish;
class MainWindow;
class PairProgress;
class QGraphicsOpacityEffect;
class QPropertyAnimation;
class QPushButton;
class QTimer;
struct ThemeSheets;

namespace Ui {
class MainWindow;
}

// The status bubble under the pairing button: a run in progress, with the
// time the receiver still waits and a way to stop beside it, then its result,
// which fades as it slides down. It tells of one run, on that run's page only.
class ResultBubble : public QObject
{
    Q_OBJECT

public:
    // The bubble is the form's (widStatus with pairStatus and pairType); its
    // controls go on the pairing page. The window is asked for the page shown.
    ResultBubble(MainWindow *window, Ui::MainWindow *form, DeferredPolish *polish);
    ~ResultBubble() override;

    // A pairing runs (status 2 until its result).
    bool running() const { return mPairing; }
    // The moment after a result during which the pairing button stays off.
    bool locked() const { return mResultLock; }
    // The page of the run the bubble tells of; 0 for none.
    int runPage() const { return mRunPage; }
    QPushButton *stopButton() const { return mStop; }

    // A run starts on the page shown, or goes on.
    void start();
    void showResult(const PairOutcome &outcome);
    // One poll of the run: `attempt` of `attempts` done. Ignored when no run is on.
    void setProgress(int attempt, int attempts);
    void applyTheme(const ThemeSheets &sheets);
    void retranslate();
    // Shown on the run's own page only; a hidden bubble keeps no text for a reader to find.
    void showBubble();

signals:
    // The pause after a result is over.
    void sigUnlocked();

private slots:
    void TimerTimeOut();
    void RotaterTimeOut();

private:
    friend class TestMainWindow;

    QString bubbleText() const;
    bool runOnPage() const;
    void fitBubble();
    void describeProgress();

    MainWindow *mWindow;
    Ui::MainWindow *ui;
    DeferredPolish *mPolish;
    QGraphicsOpacityEffect *mOpacityEffect = nullptr;
    QPropertyAnimation *mOpacityAnimation = nullptr;
    QPropertyAnimation *mPosAnimation = nullptr;
    QTimer *mTimer = nullptr;
    QTimer *mRotater = nullptr;
    int mRotateAngle = 0;
    PairProgress *mProgress = nullptr;
    QPushButton *mStop = nullptr;
    bool mPairing = false;
    // The page of the run the bubble tells of, running or with its result on
    // show; 0 for none. Other pages do not show it.
    int mRunPage = 0;
    // The result on show until its bubble has faded.
    struct Result {
        bool shown = false;
        PairOutcome outcome;
    };
    Result mResult;
    int mProgressAttempt = 0;
    int mProgressAttempts = 0;
    bool mResultLock = false;
};
