// SPDX-License-Identifier: MIT
#pragma once

#include <QMainWindow>
#include <QPoint>
#include <QStringList>

#include "config/pairkind.h"
#include "pairing/pairoutcome.h"
#include "pairing/pairservice.h"
#include "ui/decorative.h"
#include "ui/pairstatus.h"

#include <functional>

class DeferredPolish;
class FocusRing;
class ReceiverLine;
class ResultBubble;
class QGraphicsOpacityEffect;
class QLabel;
class QWindow;

namespace Ui {
class MainWindow;
}

// The one window: the home page with its two cards and the pairing page
// with the guide pictures, the pairing button and the status bubble.
class MainWindow : public QMainWindow
{
    Q_OBJECT

public:
    explicit MainWindow(QWidget *parent = nullptr);
    ~MainWindow() override;

    // Makes room in the pixmap cache for every picture at the given device
    // pixel ratio, so that each is decoded once however often it is used.
    static void reservePictureCache(qreal ratio);

    // Codes shared with the controller.
    enum Page { PageMouse = 1, PageKeyboard = 2, PageHome = 3 };
    // The pairing page of a kind.
    static Page pageOf(PairKind kind) { return kind == PairKind::Keyboard ? PageKeyboard : PageMouse; }
    enum Theme { ThemeBlack = 0, ThemeBlue = 1, ThemeSkyblue = 2 };
    // Why no receiver can be used although one may be plugged in.
    enum Problem { ProblemNone = 0, ProblemNoAccess = 1, ProblemCatalogue = 2 };

    // devType: the kinds the state concerns. goHome false keeps the page
    // shown, for a state that follows a result the user must still see.
    void setConnectState(PairKinds devType, bool connected, bool tovrik, bool goHome = true);
    // kinds: those whose receivers have the problem; a damaged catalogue concerns both.
    // With no access, `reach` says why the pairing service cannot stand in.
    void setReceiverProblem(int problem, PairKinds kinds = kBothKinds,
                            PairService::Reach reach = PairService::Reach::NoBus);
    // The receivers a pairing page can pair with, as named to the user, and
    // the one it shows (-1 for none).
    void setPageReceivers(PairKind kind, const QStringList &labels, int current);
    int currentPage() const { return mPage; }
    // What the catalogue left out or ignored (ConfigController::warnings()), told on the home page.
    void setCatalogueWarnings(const QStringList &warnings);
    void setPairStatus(PairStatus status, QString msg);
    // How the run ended, on the run's page.
    void showPairOutcome(const PairOutcome &outcome);
    // One poll of the run shown: `attempt` of `attempts` done. Ignored when no run is on.
    void setPairProgress(int attempt, int attempts);
    // The one way the page changes; a code that names no page is ignored.
    void showPage(int page);
    void retranslate();
    void applyTheme(int theme, bool homePage);
    void fitTextWidths();
    void updateLanguageButtons(QString lang);

signals:
    void sigStartPair(PairKind type);
    // The user chose another receiver on a pairing page: its place in the list given.
    void sigChooseReceiver(PairKind kind, int index);
    // The user asked to stop the run in progress (Esc or the stop button).
    void sigStopPair();

private slots:
    void on_btnPair_clicked();
    void on_btnReturn_clicked();
    void on_mouseCode_clicked();
    void on_keyboardCode_clicked();
    void on_btnClose_clicked();
    void on_btnMini_clicked();
    void on_btnModify_clicked();
    void on_btnBlack_clicked();
    void on_btnBlue_clicked();
    void on_btnSkyblue_clicked();
    void on_btnZH_clicked();
    void on_btnEN_clicked();
    void on_btnLanguage_clicked();
    void slotStopRun();

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;

private:
    friend class TestMainWindow;

    void initWindow();
    void setUpKeyboard();
    void retranslateAccessible();
    void holdBackHiddenParts();
    void setRowConnected(QLabel *dot, QLabel *text, PairKind kind, bool connected);
    QString rowText(PairKind kind, bool connected) const;
    bool kindBlocked(PairKind kind) const;
    void refreshRows();
    void fitStatusRows();
    void refreshHint();
    void updatePairButton();
    bool pageConnected() const;
    QString pageTitle() const;
    // A kind's connected state, as its member holds it.
    bool connected(PairKind kind) const { return kind == PairKind::Keyboard ? mKeyboardConnected : mMouseConnected; }
    void focusCard(int page);
    bool togglePopup(QWidget *popup, QWidget *other);
    void setHomeWidgetsVisible(bool visible);
    void layOutGuide(int page, bool geometry);
    void describeGuide(int page);

    // Before the widgets, which it shows to screen readers.
    DecorativeFilter mDecorativeFilter;
    Ui::MainWindow *ui;
    // Asks the window system to move the window with the pointer; false where
    // it cannot (no such request on the platform, or a window manager without
    // it). A Wayland compositor ignores a window's own move().
    std::function<bool(QWindow *)> mSystemMove;
    bool mPressed = false;
    QPoint mDragOffset;
    int mTheme = ThemeBlack;
    // mPage and mCurrentDev (the page's kind as its code, 0 at home) are written by showPage alone.
    int mPage = PageHome;
    // The pairing page whose guide was last laid out.
    int mGuidePage = 0;
    bool mMouseConnected = false;
    bool mKeyboardConnected = false;
    bool mTovrik = false;
    int mCurrentDev = 0;
    int mProblem = ProblemNone;
    PairKinds mProblemKinds;
    PairService::Reach mServiceReach = PairService::Reach::NoBus;
    // The last run was refused by the pairing service's authorisation; until the next run.
    bool mRefused = false;
    ReceiverLine *mReceiverLine = nullptr;
    struct PageReceivers {
        QStringList labels;
        int current = -1;
    };
    PerKind<PageReceivers> mPageReceivers;
    QStringList mCatalogueWarnings;
    QLabel *mHint = nullptr;
    QGraphicsOpacityEffect *mPairFade = nullptr;
    DeferredPolish *mPolish = nullptr;
    // The status bubble, the run's controls beside it, and the run's state.
    ResultBubble *mBubble = nullptr;
    FocusRing *mFocusRing = nullptr;
};
