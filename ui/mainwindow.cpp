// SPDX-License-Identifier: MIT
#include "ui/mainwindow.h"
#include "ui_mainwindow.h"

#include "ui/focusring.h"
#include "app/maincontrol.h"
#include "ui/deferredpolish.h"
#include "ui/guide.h"
#include "ui/qtmajor.h"
#include "ui/receiverline.h"
#include "ui/resultbubble.h"
#include "ui/themes.h"

#include <QApplication>
#include <QDebug>
#include <QSysInfo>
#include <QGraphicsOpacityEffect>
#include <QPixmapCache>
#include <QWindow>

#include <utility>

namespace {

const char *const kEnglish = "en";
const char *const kChinese = "zh";

const char *const kSelectedZhSheet = "QPushButton{ background:transparent;border-image:url(:/newImage/"
                                     "modifyLan_zh.png);font-weight:400;font-size: 16px;color: #000B3E;}";
const char *const kSelectedEnSheet = "QPushButton{ background:transparent;border-image:url(:/newImage/"
                                     "modifyLan_en.png);font-weight:400;font-size: 16px;color: #000B3E;}";
const char *const kPlainItemSheet =
    "QPushButton{background:transparent;font-weight:400;font-size: 16px;color: #000B3E;}";

// The kind a page pairs; the home page reads as the mouse page, whose row the pairing page starts from.
PairKind pageKind(int page)
{
    return page == MainWindow::PageKeyboard ? PairKind::Keyboard : PairKind::Mouse;
}

} // namespace

// Style sheets load their pictures through the pixmap cache, and a picture
// larger than the cache's limit is never kept: Qt's default of 10 MB is less
// than one 2 x background (13 MB), which was then decoded again for every
// widget and every polish, half a gigabyte at start. All the pictures at 1 x
// take 20 MB; the 2 x ones four times that.
void MainWindow::reservePictureCache(qreal ratio)
{
    const int perScale = 24 * 1024; // KiB
    const int wanted = ratio > 1 ? 4 * perScale : perScale;
    if (QPixmapCache::cacheLimit() < wanted)
        QPixmapCache::setCacheLimit(wanted);
}

MainWindow::MainWindow(QWidget *parent)
    : QMainWindow(parent)
    , ui(new Ui::MainWindow)
    , mSystemMove([](QWindow *window) { return window && window->startSystemMove(); })
{
    reservePictureCache(qApp->devicePixelRatio());
    ui->setupUi(this);
    qDebug() << "+MainWindow";
    // Families the form names but the machine may lack (the form's "黑体")
    // render in the interface font like everything else.
    const QString interfaceFamily = QApplication::font().family();
    for (QWidget *widget : findChildren<QWidget *>()) {
        const QFont font = widget->font();
        if (namesFamily(font) && font.family() != interfaceFamily
            && !QFont::substitutes(font.family()).contains(interfaceFamily, Qt::CaseInsensitive))
            QFont::insertSubstitution(font.family(), interfaceFamily);
    }
    setWindowFlag(Qt::FramelessWindowHint);
    // Said by the texts beside them: the title, the cards' texts, the status rows and the bubble's text.
    for (QWidget *picture : {static_cast<QWidget *>(ui->pairTitle), static_cast<QWidget *>(ui->keymouse),
                             static_cast<QWidget *>(ui->keyboard), static_cast<QWidget *>(ui->mouseConnect),
                             static_cast<QWidget *>(ui->keyboardConnect), static_cast<QWidget *>(ui->mouseConnect1),
                             static_cast<QWidget *>(ui->pairType)})
        setDecorative(picture);
    // The form's placeholder; the bubble says something only while it is shown.
    ui->pairStatus->clear();
    holdBackHiddenParts();
    initWindow();
    mBubble = new ResultBubble(this, ui, mPolish);
    connect(mBubble, &ResultBubble::sigUnlocked, this, &MainWindow::updatePairButton);
    connect(mBubble->stopButton(), &QPushButton::clicked, this, &MainWindow::slotStopRun);
    mBubble->applyTheme(themeSheets(mTheme));
    setUpKeyboard();
    // Nothing answers the request, so a right click shows no menu.
    setContextMenuPolicy(Qt::CustomContextMenu);
    // Off until a receiver that can pair the page's kind is reported.
    updatePairButton();
}

MainWindow::~MainWindow()
{
    qDebug() << "-MainWindow";
    // Before the widgets its animations move.
    delete mBubble;
    delete ui;
}

void MainWindow::initWindow()
{
    setWindowTitle(tr("Bondara"));
    ui->centralWidget->setMouseTracking(true);
    setMouseTracking(true);

    mPressed = false;
    mTheme = ThemeBlack;
    mMouseConnected = false;
    mKeyboardConnected = false;

    ui->widStatus->hide();
    ui->colorLabel->hide();
    ui->widgetLanguage->hide();
    ui->pagePair->hide();

    setSheet(ui->label_tips, "QLabel{border-image: url(:/newImage/" + tr("tips_en.png")
                                  + ");font-size:12px;color:#FF8473}");

    ui->widgetTitle->show();
    ui->btnReturn->hide();
    ui->pairTitle->move(76, 26);
    ui->mouseTitle->setText(pageTitle());
    ui->mouseTitle->move(221, 26);

    setFirstSheet(ui->centralWidget, "background-image: url(:/newImage/home_page4.png);");
    setSheet(ui->mouseTitle, "font-size:22px;color:white;");
    setSheet(ui->pairTitle, "background-image: url(:/newImage/logo.png)");

    // What to do about a receiver that cannot be used: under the status rows
    // on the home page, under the status on a pairing page.
    mHint = new QLabel(ui->centralWidget);
    mHint->setObjectName(QStringLiteral("labelHint"));
    mHint->setAlignment(Qt::AlignCenter);
    mHint->setWordWrap(true);
    setSheet(mHint, "QLabel{background:transparent;font-size:14px;color:#FF8473}");
    mHint->hide();

    mReceiverLine = new ReceiverLine(ui->pagePair);
    connect(mReceiverLine, &ReceiverLine::sigChosen, this, [this](int index) {
        if (mPage != PageHome)
            emit sigChooseReceiver(pageKind(mPage), index);
    });

    // The button's art has no disabled face: a button that cannot be used is faded.
    mPairFade = new QGraphicsOpacityEffect(ui->btnPair);
    mPairFade->setOpacity(0.45);
    mPairFade->setEnabled(false);
    ui->btnPair->setGraphicsEffect(mPairFade);
}

void MainWindow::holdBackHiddenParts()
{
    // Measured at start for the text fitting, in the fonts their sheets give.
    const QVector<QWidget *> measured = {ui->btnPair, ui->connectStatus, ui->label_tips};
    // The first frame: the home page's background is always in it.
    mPolish = new DeferredPolish(this, {ui->pagePair, ui->btnReturn, ui->colorLabel, ui->widgetLanguage}, measured,
                                 ui->centralWidget, [this] { return guide::pictures(mTovrik); });
}

bool MainWindow::kindBlocked(PairKind kind) const
{
    return mProblem == ProblemCatalogue || (mProblem == ProblemNoAccess && mProblemKinds.testFlag(kind));
}

QString MainWindow::rowText(PairKind kind, bool connected) const
{
    if (mProblem == ProblemCatalogue)
        return tr("Status:Device list unusable");
    if (kindBlocked(kind))
        return tr("Status:No access to the receiver");
    return connected ? tr("Status:Connected") : tr("Status:Not connected");
}

void MainWindow::setRowConnected(QLabel *dot, QLabel *text, PairKind kind, bool connected)
{
    connected = connected && !kindBlocked(kind);
    if (connected) {
        setSheet(dot, "background: url(:/newImage/connected.png)");
        setSheet(text, "QLabel{background:rgb(255,255,255);font-size:16px;color:#A1A3DB}");
    } else {
        setSheet(dot, "background: url(:/newImage/not_connected.png)");
        setSheet(text, "QLabel{background:rgb(255,255,255);font-size:16px;color:#FF8473}");
    }
    setAnnouncedText(text, rowText(kind, connected));
}

// Each card's row follows its own kind; the pairing page's row its page's.
void MainWindow::refreshRows()
{
    const PairKind kind = pageKind(mPage);
    setRowConnected(ui->mouseConnect, ui->mouseStatus, PairKind::Mouse, mMouseConnected);
    setRowConnected(ui->keyboardConnect, ui->keyboardStatus, PairKind::Keyboard, mKeyboardConnected);
    setRowConnected(ui->mouseConnect1, ui->connectStatus, kind, connected(kind));
    const PageReceivers shown = mPage == PageHome ? PageReceivers() : mPageReceivers[kind];
    mReceiverLine->setReceivers(shown.labels, shown.current);
    fitStatusRows();
    refreshHint();
    updatePairButton();
}

void MainWindow::setPageReceivers(PairKind kind, const QStringList &labels, int current)
{
    mPageReceivers[kind] = {labels, current};
    refreshRows();
}

void MainWindow::refreshHint()
{
    QString text;
    const PairKinds kinds = mPage == PageHome ? kBothKinds : PairKinds(pageKind(mPage));
    if (mProblem == ProblemNoAccess && (mProblemKinds & kinds)) {
        // What is missing: this user's own access, and the service that would stand in.
        if (QSysInfo::productType() == QLatin1String("windows"))
            text = tr("Another program is holding the receiver: close it, then unplug the receiver and plug it in again.");
        else if (mServiceReach == PairService::Reach::NotInstalled)
            text = tr("This user cannot open the receiver and the pairing service is not installed: reinstall Bondara (bondara-cli doctor names what is missing).");
        else
            text = tr("This user cannot open the receiver and the system bus is not running, so the pairing service cannot help (bondara-cli doctor names what is missing).");
    } else if (mRefused && mPage != PageHome) {
        text = tr("Pairing was not allowed: enter the administrator's password when asked, or ask an administrator to allow it (bondara-cli doctor says more).");
    } else if (mProblem == ProblemCatalogue) {
        text = tr("The list of supported receivers is damaged: reinstall Bondara (details: bondara -v).");
    } else if (!mCatalogueWarnings.isEmpty() && mPage == PageHome) {
        // The fields' places read alike in every language; the log has the rest. On a pairing
        // page the tip about pairing matters more.
        QStringList places;
        for (const QString &warning : std::as_const(mCatalogueWarnings))
            places << warning.section(QLatin1String(": "), 0, 0);
        if (places.size() > 3)
            places = places.mid(0, 3) << QStringLiteral("...");
        text = tr("Some receivers in the list could not be used: %1 (details: bondara -v).")
                   .arg(places.join(QLatin1String(", ")));
    }
    setAnnouncedText(mHint, text);
    const bool home = mPage == PageHome;
    // On a pairing page the hint takes the place of the tip about pairing.
    ui->label_tips->setVisible(home || text.isEmpty());
    if (text.isEmpty()) {
        mHint->hide();
        return;
    }
    // On a pairing page, below the status and the receiver's name, where the tip would be.
    mHint->setGeometry(home ? QRect(100, 584, 1000, 44) : QRect(100, 70 + 68, 1000, 28));
    mHint->show();
    mHint->raise();
}

bool MainWindow::pageConnected() const
{
    const PairKind kind = pageKind(mPage);
    return mPage != PageHome && !kindBlocked(kind) && connected(kind);
}

// The state at this moment decides, whoever asks.
void MainWindow::updatePairButton()
{
    const bool enabled = pageConnected() && !mBubble->running() && !mBubble->locked();
    ui->btnPair->setEnabled(enabled);
    mPairFade->setEnabled(!enabled);
}

// The cards, their buttons and their connection rows.
void MainWindow::setHomeWidgetsVisible(bool visible)
{
    for (QWidget *widget : {static_cast<QWidget *>(ui->keymouse), static_cast<QWidget *>(ui->keyboard),
                            static_cast<QWidget *>(ui->keyboardCode), static_cast<QWidget *>(ui->keyboardConnect),
                            static_cast<QWidget *>(ui->keyboardStatus), static_cast<QWidget *>(ui->mouseCode),
                            static_cast<QWidget *>(ui->mouseConnect), static_cast<QWidget *>(ui->mouseStatus)})
        widget->setVisible(visible);
}

void MainWindow::setConnectState(PairKinds devType, bool connected, bool tovrik, bool goHome)
{
    mTovrik = tovrik;
    mMouseConnected = connected && devType.testFlag(PairKind::Mouse);
    mKeyboardConnected = connected && devType.testFlag(PairKind::Keyboard);
    if (!goHome) {
        refreshRows();
        return;
    }
    showPage(PageHome);
}

void MainWindow::setReceiverProblem(int problem, PairKinds kinds, PairService::Reach reach)
{
    if (problem < ProblemNone || problem > ProblemCatalogue)
        return;
    mProblem = problem;
    mProblemKinds = problem == ProblemNone ? PairKinds() : kinds;
    mServiceReach = reach;
    refreshRows();
}

void MainWindow::setCatalogueWarnings(const QStringList &warnings)
{
    mCatalogueWarnings = warnings;
    refreshHint();
}

void MainWindow::layOutGuide(int page, bool geometry)
{
    QLabel *const labels[] = {ui->label_2, ui->label_3, ui->label_4, ui->label_5, ui->label_6};
    guide::layOut(labels, page, mTovrik, geometry);
    describeGuide(page);
}

// The guide's pictures as a reader hears them, also while hidden: in the
// window's language, like every other text.
void MainWindow::describeGuide(int page)
{
    mGuidePage = page;
    QLabel *const labels[] = {ui->label_2, ui->label_3, ui->label_4, ui->label_5, ui->label_6};
    guide::describe(labels, page, mTovrik);
}

void MainWindow::showPage(int page)
{
    if (page != PageHome && page != PageMouse && page != PageKeyboard)
        return;
    QWidget *const focus = focusWidget();
    const bool focusOnPage = focus && (focus == ui->btnReturn || ui->pagePair->isAncestorOf(focus));
    const int left = mPage;
    mPage = page;
    mCurrentDev = page == PageHome ? 0 : page;
    if (page == PageHome) {
        ui->pagePair->hide();
        ui->btnReturn->hide();
        ui->pairTitle->move(76, 26);
        ui->mouseTitle->setText(pageTitle());
        ui->mouseTitle->move(221, 26);

        setHomeWidgetsVisible(true);
        applyTheme(mTheme, true);

        mBubble->showBubble();
        refreshRows();
        // The keyboard was on the page it left: it goes on to that page's card.
        if (focusOnPage)
            focusCard(left);
        return;
    }

    mPolish->polishPart(ui->pagePair);
    mPolish->polishPart(ui->btnReturn);
    setHomeWidgetsVisible(false);
    setSheet(ui->centralWidget, "");
    ui->btnReturn->show();
    ui->widgetTitle->show();
    ui->pagePair->show();
    ui->pairTitle->move(540, 24);
    ui->mouseTitle->move(95, 24);
    ui->mouseTitle->setText(pageTitle());
    refreshRows();
    layOutGuide(page, true);
    // Back on the run's page while the receiver still waits, or its result is on show: shown again.
    mBubble->showBubble();
    if (!focusOnPage)
        (ui->btnPair->isEnabled() ? static_cast<QWidget *>(ui->btnPair) : ui->btnReturn)->setFocus(Qt::OtherFocusReason);
}

QString MainWindow::pageTitle() const
{
    if (mPage == PageHome)
        return tr("Welcome!");
    return mPage == PageMouse ? tr("Mouse connect") : tr("Keyboard connect");
}

void MainWindow::focusCard(int page)
{
    (page == PageKeyboard ? ui->keyboardCode : ui->mouseCode)->setFocus(Qt::OtherFocusReason);
}

void MainWindow::on_mouseCode_clicked()
{
    showPage(PageMouse);
}

void MainWindow::on_keyboardCode_clicked()
{
    showPage(PageKeyboard);
}

void MainWindow::on_btnReturn_clicked()
{
    const int left = mPage;
    showPage(PageHome);
    focusCard(left);
}

void MainWindow::on_btnPair_clicked()
{
    qDebug() << "mCurrentDev:" << mCurrentDev;
    // One run at a time, whatever reaches the slot.
    if (mBubble->running() || !ui->btnPair->isEnabled() || mCurrentDev == 0)
        return;
    emit sigStartPair(pageKind(mCurrentDev));
}

void MainWindow::on_btnClose_clicked()
{
    QCoreApplication::exit(0);
}

void MainWindow::on_btnMini_clicked()
{
    showMinimized();
}

void MainWindow::setPairStatus(PairStatus status, QString msg)
{
    Q_UNUSED(msg)
    qDebug() << "status:" << int(status);

    if (status == PairStatus::Working && mRefused) {
        mRefused = false;
        refreshHint();
    }
    // The receiver's own states leave the bubble alone: a result stays as it was sized.
    if (status == PairStatus::Working)
        mBubble->start();
    else if (status == PairStatus::Success || status == PairStatus::Failed)
        mBubble->showResult({status == PairStatus::Success ? PairOutcome::Paired : PairOutcome::NoReceiver, {}});
    updatePairButton();
}

void MainWindow::showPairOutcome(const PairOutcome &outcome)
{
    // Logged as setPairStatus logs a result, with the reason beside a failure.
    if (outcome.ok())
        qDebug() << "status:" << int(PairStatus::Success);
    else
        qDebug().noquote() << "status:" << int(PairStatus::Failed) << "failure:" << PairOutcome::key(outcome.reason);
    mBubble->showResult(outcome);
    mRefused = outcome.reason == PairOutcome::NotAuthorised;
    refreshHint();
    updatePairButton();
}

void MainWindow::setPairProgress(int attempt, int attempts)
{
    mBubble->setProgress(attempt, attempts);
}

void MainWindow::slotStopRun()
{
    if (!mBubble->running())
        return;
    qDebug() << "stop asked for the run on page" << mBubble->runPage();
    emit sigStopPair();
}

void MainWindow::retranslate()
{
    ui->mouseCode->setText(tr("Mouse connect"));
    ui->keyboardCode->setText(tr("Keyboard connect"));
    ui->btnPair->setText(tr("Matching code"));
    ui->label_tips->setText(tr("Don't unplug the receiver during matching code"));
    setSheet(ui->label_tips, "QLabel{border-image: url(:/newImage/" + tr("tips_en.png")
                                  + ");font-size:12px;color:#FF8473}");

    setWindowTitle(tr("Bondara"));
    ui->keyboardStatus->setText(rowText(PairKind::Keyboard, mKeyboardConnected));
    ui->mouseStatus->setText(rowText(PairKind::Mouse, mMouseConnected));
    ui->connectStatus->setText(rowText(pageKind(mPage), connected(pageKind(mPage))));
    mReceiverLine->retranslate();
    refreshHint();

    ui->mouseTitle->setText(pageTitle());
    if (mPage != PageHome)
        layOutGuide(mPage, false);
    else if (mGuidePage)
        describeGuide(mGuidePage);
    retranslateAccessible();
    fitTextWidths();
    mBubble->retranslate();
}

// One popup at a time; true when `popup` shows now.
bool MainWindow::togglePopup(QWidget *popup, QWidget *other)
{
    if (other->isVisible())
        other->hide();
    mPolish->polishPart(popup);
    popup->setVisible(!popup->isVisible());
    return popup->isVisible();
}

void MainWindow::on_btnModify_clicked()
{
    if (togglePopup(ui->colorLabel, ui->widgetLanguage))
        ui->btnBlack->setFocus(Qt::OtherFocusReason);
}

void MainWindow::on_btnBlack_clicked()
{
    mTheme = ThemeBlack;
    applyTheme(mTheme, mCurrentDev == 0);
}

void MainWindow::on_btnBlue_clicked()
{
    mTheme = ThemeBlue;
    applyTheme(mTheme, mCurrentDev == 0);
}

void MainWindow::on_btnSkyblue_clicked()
{
    mTheme = ThemeSkyblue;
    applyTheme(mTheme, mCurrentDev == 0);
}

void MainWindow::applyTheme(int theme, bool homePage)
{
    if (theme < ThemeBlack || theme > ThemeSkyblue)
        return;
    const ThemeSheets sheets = themeSheets(theme);
    if (homePage) {
        setSheet(ui->centralWidget, sheets.background);
        setSheet(ui->mouseCode, sheets.card);
        setSheet(ui->keyboardCode, sheets.card);
    }
    setSheet(ui->btnClose, sheets.close);
    setSheet(ui->btnMini, sheets.minimize);
    setSheet(ui->btnModify, sheets.modify);
    setSheet(ui->btnLanguage, sheets.language);
    setSheet(ui->widgetTitle, sheets.titleBar);
    setSheet(ui->mouseTitle, sheets.titleText);
    setSheet(ui->pairTitle, sheets.logo);
    setSheet(ui->btnReturn, sheets.back);
    if (mFocusRing)
        mFocusRing->setColors(sheets.ring, sheets.ringHalo);
    mBubble->applyTheme(sheets);
}

void MainWindow::on_btnLanguage_clicked()
{
    // Onto the language that can be chosen.
    if (togglePopup(ui->widgetLanguage, ui->colorLabel))
        (ui->btnZH->isEnabled() ? ui->btnZH : ui->btnEN)->setFocus(Qt::OtherFocusReason);
}

void MainWindow::on_btnZH_clicked()
{
    ui->widgetLanguage->hide();
    MainControl::instance().switchLanguage(kChinese);
    ui->btnLanguage->setFocus(Qt::OtherFocusReason);
}

void MainWindow::on_btnEN_clicked()
{
    ui->widgetLanguage->hide();
    MainControl::instance().switchLanguage(kEnglish);
    ui->btnLanguage->setFocus(Qt::OtherFocusReason);
}

void MainWindow::updateLanguageButtons(QString lang)
{
    if (lang == QLatin1String(kChinese)) {
        setSheet(ui->btnZH, kSelectedZhSheet);
        setSheet(ui->btnEN, kPlainItemSheet);
        ui->btnZH->setEnabled(false);
        ui->btnEN->setEnabled(true);
    } else if (lang == QLatin1String(kEnglish)) {
        setSheet(ui->btnZH, kPlainItemSheet);
        setSheet(ui->btnEN, kSelectedEnSheet);
        ui->btnZH->setEnabled(true);
        ui->btnEN->setEnabled(false);
    }
}
