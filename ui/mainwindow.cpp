// SPDX-License-Identifier: MIT
#include "ui/mainwindow.h"
#include "ui_mainwindow.h"

#include "ui/focusring.h"
#include "app/maincontrol.h"
#include "ui/receiverline.h"
#include "ui/pairprogress.h"

#include "resources/art/palette.h"

#include <QApplication>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QKeyEvent>
#include <QShortcut>
#include <QDebug>
#include <QSysInfo>
#include <QFontMetrics>
#include <QGraphicsOpacityEffect>
#include <QMouseEvent>
#include <QPixmap>
#include <QPixmapCache>
#include <QPropertyAnimation>
#include <QTimer>
#include <QTransform>
#include <QWindow>

namespace {

const char *const kEnglish = "en";
const char *const kChinese = "zh";

// Pictures of one colour theme.
struct ThemeArt {
    const char *background;
    const char *card;
    const char *close;
    const char *minimize;
    const char *modifyColor;
    const char *modifyLan;
    const char *title;
    const char *titleColor;
    const char *logo;
    const char *returnNormal;
    const char *returnHover;
};

const ThemeArt kThemes[] = {
    {"home_page4", "mouseCode", "close", "minimize", "modifyColor", "modifyLan", "title", "white", "logo", "Return",
     "Return_ov"},
    {"home_page6", "mouseCode1", "close", "minimize", "modifyColor", "modifyLan", "title2", "white", "logo", "Return",
     "Return_ov"},
    // Skyblue's light title strip takes the dark arrow as its normal face.
    {"home_page5", "mouseCode2", "close2", "minimize2", "modifyColor2", "modifyLan2", "title3", "#474F6C", "logo3",
     "Return_ov", "Return"},
};

QString titleBarSheet(const QString &base)
{
    return QStringLiteral("QPushButton{ background-color: transparent;background: url(:/newImage/%1.png);outline: "
                          "0px;border: none;border-radius: 2px;}QPushButton:hover{ background: "
                          "url(:/newImage/%1_ov.png);outline: 0px; border: none;}QPushButton:pressed{ background: "
                          "url(:/newImage/%1.png);outline: 0px;border: none;}")
        .arg(base);
}

QString backSheet(const QString &normal, const QString &hover)
{
    return QStringLiteral("QPushButton{ background-color: transparent;background: url(:/newImage/%1.png);outline: "
                          "0px;border: none;border-radius: 2px;}QPushButton:hover{ background: "
                          "url(:/newImage/%2.png);outline: 0px;border: none;}QPushButton:pressed{ background: "
                          "url(:/newImage/%1.png);outline: 0px;border: none;}")
        .arg(normal, hover);
}

QString cardSheet(const QString &base)
{
    return QStringLiteral("QPushButton{ background:transparent;border-image: url(:/newImage/%1.png);outline: "
                          "0px;border-radius: 2px;font-size:20px;color:#FFFFFF;font-weight: 500;}QPushButton:hover{ "
                          "border-image: url(:/newImage/%1_ov.png);outline: 0px;border-radius: "
                          "2px;font-size:20px;color:#FFFFFF;font-weight: 500;}QPushButton:pressed{ border-image: "
                          "url(:/newImage/%1_click.png);outline: 0px;border-radius: "
                          "2px;font-size:20px;color:#FFFFFF;font-weight: 500;}")
        .arg(base);
}

const char *const kWidePairSheet =
    "QPushButton{ background: transparent;border-image: url(:/newImage/code_en.png);outline: 0px;border: "
    "none;border-radius: 2px;font-size: 18px;color:#FFFFFF}QPushButton:hover{border-image: "
    "url(:/newImage/code_en_ov.png);outline: 0px;border: none;font-size: 18px;color:#FFFFFF}QPushButton:pressed{ "
    "border-image: url(:/newImage/code_en_click.png);outline: 0px;border: none;font-size: 18px;color:#FFFFFF;}";

const char *const kSelectedZhSheet = "QPushButton{ background:transparent;border-image:url(:/newImage/"
                                     "modifyLan_zh.png);font-weight:400;font-size: 16px;color: #000B3E;}";
const char *const kSelectedEnSheet = "QPushButton{ background:transparent;border-image:url(:/newImage/"
                                     "modifyLan_en.png);font-weight:400;font-size: 16px;color: #000B3E;}";
const char *const kPlainItemSheet =
    "QPushButton{background:transparent;font-weight:400;font-size: 16px;color: #000B3E;}";

const char *const kWorkingTextSheet = "QLabel{border-image:#ffffff;font-size:16px;color:#838CB7}";
const char *const kFailedTextSheet = "QLabel{border-image:#ffffff;font-size:16px;color:#FF8473}";

// The guide pictures of a page, left to right from label_2, with their x positions.
struct Guide {
    const char *pictures[5];
    int x[5];
    int count;
};

const Guide kMouseGuide = {{"mouse1_en.png", "mouse2_en.png", "mouse3_en.png", "mouse4_en.png", "mouse5_en.png"},
                           {40, 266, 492, 718, 944},
                           5};
const Guide kKeyboardGuide = {
    {"keyboard1_en.png", "keyboard2_en.png", "keyboard3_en.png", "keyboard4_en.png", "keyboard5_en.png"},
    {40, 266, 492, 718, 944},
    5};
const Guide kTovrikGuide = {{"keyboard1_en.png", "keyboard6_en.png", "keyboard3_en.png", "keyboard7_en.png"},
                            {116, 364, 612, 860},
                            4};

// The width the pages are laid out in, and centred on.
constexpr int kPageWidth = 1200;

// Designed widths of the widgets that follow their texts.
constexpr int kCardWidth = 202;
constexpr int kPairWidth = 146;
constexpr int kTipsWidth = 147;

// The status bubble: its top, height, and the room around its text (the icon on the left).
constexpr int kBubbleY = 540;
constexpr int kBubbleHeight = 45;
constexpr int kBubbleTextLeft = 50;
constexpr int kBubbleTextRight = 18;
// How far a result slides down as it fades.
constexpr int kBubbleSlide = 30;
// The spinner's turn: 6 degrees a tick.
constexpr int kRotateMs = 14;

// The run's own controls beside the working bubble, in the colours of each
// theme's cards; the page under them is white in every theme.
const palette::Theme *const kRunThemes[] = {&palette::black, &palette::blue, &palette::skyblue};

QString stopSheet(const palette::Theme &theme)
{
    return QStringLiteral("QPushButton{background:#FFFFFF;border:1px solid %1;border-radius:14px;font-size:14px;"
                          "color:%1;padding:0px 12px;}QPushButton:hover{background:%2;}"
                          "QPushButton:pressed{background:%1;color:#FFFFFF;}")
        .arg(theme.button.name(), palette::halo.name());
}

// The focus ring of each theme, and the halo that sets it off from any face.
const QColor kRingColors[][2] = {
    {QColor(0x3E, 0xA8, 0xFF), QColor(0xFF, 0xFF, 0xFF)},
    {QColor(0x4C, 0x6F, 0xFF), QColor(0xFF, 0xFF, 0xFF)},
    {QColor(0x3A, 0x57, 0xE0), QColor(0xFF, 0xFF, 0xFF)},
};

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

// The step captions of the guide pictures, by picture and language, as the art shows them.
const QJsonObject &guideCaptions()
{
    static const QJsonObject captions = [] {
        QFile file(QStringLiteral(":/guide/guide.json"));
        if (!file.open(QIODevice::ReadOnly))
            return QJsonObject();
        return QJsonDocument::fromJson(file.readAll()).object();
    }();
    return captions;
}

// "{Text}" in a caption stands for the window's own text.
QString fillCaption(QString text)
{
    int open = 0;
    while ((open = text.indexOf(QLatin1Char('{'), open)) >= 0) {
        const int close = text.indexOf(QLatin1Char('}'), open);
        if (close < 0)
            break;
        const QString inner = QCoreApplication::translate("MainWindow", text.mid(open + 1, close - open - 1).toUtf8());
        text.replace(open, close - open + 1, inner);
        open += inner.size();
    }
    return text;
}

// A picture for a label: the "@2x" one on a screen scaled above 1, which a
// QPixmap does not look for by itself (style sheets do).
QPixmap sharpPixmap(const QString &path, qreal ratio)
{
    if (ratio > 1) {
        QString sharp = path;
        sharp.insert(sharp.lastIndexOf(QLatin1Char('.')), QLatin1String("@2x"));
        QPixmap pixmap(sharp);
        if (!pixmap.isNull()) {
            pixmap.setDevicePixelRatio(2);
            return pixmap;
        }
    }
    return QPixmap(path);
}

enum Status { StatusNoReceiver = 0, StatusConnected = 1, StatusWorking = 2, StatusSuccess = 3, StatusFailed = 4 };

// A new style sheet re-polishes the widget and everything below it, which on
// the central widget costs tens of milliseconds: skip what would not change.
void setSheet(QWidget *widget, const QString &sheet)
{
    if (widget->styleSheet() != sheet)
        widget->setStyleSheet(sheet);
}

// A widget's first sheet hands its style to the widgets below it, and Qt then
// polishes at once every one of them that has a sheet of its own, decoding its
// pictures, shown or not. Set with those sheets cleared and put back after,
// the widgets take the parent's style as they are, and are polished when shown.
void setFirstSheet(QWidget *parent, const QString &sheet)
{
    QVector<QPair<QWidget *, QString>> own;
    for (QWidget *child : parent->findChildren<QWidget *>()) {
        if (!child->styleSheet().isEmpty())
            own.append({child, child->styleSheet()});
    }
    // Children before their parents, so that clearing hands nothing down either.
    for (auto it = own.crbegin(); it != own.crend(); ++it)
        it->first->setStyleSheet(QString());
    setSheet(parent, sheet);
    for (const auto &widget : qAsConst(own))
        widget.first->setStyleSheet(widget.second);
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
        if ((font.resolve() & QFont::FamilyResolved) && font.family() != interfaceFamily
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
    setUpRunControls();

    if (!mTimer) {
        mTimer = new QTimer;
        connect(mTimer, &QTimer::timeout, this, &MainWindow::TimerTimeOut);
        mRotater = new QTimer;
        connect(mRotater, &QTimer::timeout, this, &MainWindow::RotaterTimeOut);
    }
    setUpKeyboard();
    // Nothing answers the request, so a right click shows no menu.
    setContextMenuPolicy(Qt::CustomContextMenu);
    // Off until a receiver that can pair the page's kind is reported.
    updatePairButton();
}

MainWindow::~MainWindow()
{
    qDebug() << "-MainWindow";
    // Made without a parent; they live exactly as long as the window.
    delete mOpacityAnimation;
    delete mPosAnimation;
    delete mTimer;
    delete mRotater;
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
    ui->mouseTitle->setText(tr("Welcome!"));
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
        if (mPage == PageMouse || mPage == PageKeyboard)
            emit sigChooseReceiver(mPage, index);
    });

    // The button's art has no disabled face: a button that cannot be used is faded.
    mPairFade = new QGraphicsOpacityEffect(ui->btnPair);
    mPairFade->setOpacity(0.45);
    mPairFade->setEnabled(false);
    ui->btnPair->setGraphicsEffect(mPairFade);

    mOpacityEffect = new QGraphicsOpacityEffect(this);
    mOpacityEffect->setOpacity(1.0);
    ui->widStatus->setGraphicsEffect(mOpacityEffect);
    mOpacityAnimation = new QPropertyAnimation(mOpacityEffect, "opacity");
    mOpacityAnimation->setStartValue(1);
    mOpacityAnimation->setEndValue(0);
    mPosAnimation = new QPropertyAnimation(ui->widStatus, "pos");
}

// Beside the working bubble: the time the receiver still waits, and a way to stop.
void MainWindow::setUpRunControls()
{
    mProgress = new PairProgress(ui->pagePair);
    mProgress->hide();
    mStop = new QPushButton(ui->pagePair);
    mStop->setObjectName(QStringLiteral("btnStop"));
    mStop->hide();
    connect(mStop, &QPushButton::clicked, this, &MainWindow::slotStopRun);
    applyRunTheme(mTheme);
}

void MainWindow::applyRunTheme(int theme)
{
    setSheet(mStop, stopSheet(*kRunThemes[theme]));
    mProgress->setColors(kRunThemes[theme]->button, palette::line);
}

void MainWindow::setUpKeyboard()
{
    mFocusRing = new FocusRing(ui->centralWidget);
    // A reader is told of the focus itself.
    setDecorative(mFocusRing);
    mFocusRing->setColors(kRingColors[mTheme][0], kRingColors[mTheme][1]);
    // Reading order: the title bar from left to right, each popup after the
    // button that opens it, then the page. Hidden and disabled controls are
    // passed over.
    const QList<QPushButton *> order = {ui->btnReturn,  ui->btnLanguage, ui->btnZH,     ui->btnEN,    ui->btnModify,
                                        ui->btnBlack,   ui->btnBlue,     ui->btnSkyblue, ui->btnMini, ui->btnClose,
                                        ui->mouseCode, ui->keyboardCode, ui->btnPair,   mStop};
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
    for (const QKeySequence &keys : {QKeySequence(Qt::CTRL + Qt::Key_Q), QKeySequence(Qt::ALT + Qt::Key_F4)}) {
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
    mProgress->setAccessibleName(tr("Time left to pair"));
    describeProgress();
}

// Status texts are live: a label tells readers of each new text itself, so
// the same text again must not be set, or it is said again.
void MainWindow::setAnnouncedText(QLabel *label, const QString &text)
{
    if (label->text() != text)
        label->setText(text);
}

void MainWindow::holdBackHiddenParts()
{
    mHiddenParts = {ui->pagePair, ui->btnReturn, ui->colorLabel, ui->widgetLanguage};
    // Measured at start for the text fitting, in the fonts their sheets give.
    const QVector<QWidget *> measured = {ui->btnPair, ui->connectStatus, ui->label_tips};
    for (QWidget *part : qAsConst(mHiddenParts)) {
        QVector<QWidget *> widgets = {part};
        for (QWidget *child : part->findChildren<QWidget *>())
            widgets << child;
        for (QWidget *widget : qAsConst(widgets)) {
            if (measured.contains(widget))
                continue;
            widget->installEventFilter(this);
            mHeldBack << widget;
        }
    }
    // The first frame: the home page's background is always in it.
    ui->centralWidget->installEventFilter(this);
}

// Polishes what is still held back of a hidden part, before it is seen or
// measured.
void MainWindow::polishPart(QWidget *part)
{
    for (int i = 0; i < mHeldBack.size();) {
        QWidget *widget = mHeldBack.at(i);
        if (widget != part && !part->isAncestorOf(widget)) {
            ++i;
            continue;
        }
        mHeldBack.remove(i);
        widget->removeEventFilter(this);
        QEvent polish(QEvent::Polish);
        QCoreApplication::sendEvent(widget, &polish);
    }
}

// One widget per turn of the event loop, so that no turn takes long.
// The guide pictures come with the page's language, so they are decoded
// (into the pixmap cache the style sheets load from) rather than polished.
void MainWindow::polishNextHeldBack()
{
    if (!mHeldBack.isEmpty()) {
        QWidget *widget = mHeldBack.takeFirst();
        widget->removeEventFilter(this);
        QEvent polish(QEvent::Polish);
        QCoreApplication::sendEvent(widget, &polish);
    } else if (!mGuidePictures.isEmpty()) {
        sharpPixmap(mGuidePictures.takeFirst(), devicePixelRatioF());
    }
    if (!mHeldBack.isEmpty() || !mGuidePictures.isEmpty())
        QTimer::singleShot(0, this, &MainWindow::polishNextHeldBack);
}

bool MainWindow::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == ui->centralWidget) {
        if (event->type() == QEvent::Paint && !mFirstFrame) {
            mFirstFrame = true;
            ui->centralWidget->removeEventFilter(this);
            for (const Guide *guide : {&kMouseGuide, mTovrik ? &kTovrikGuide : &kKeyboardGuide}) {
                for (int i = 0; i < guide->count; ++i)
                    mGuidePictures << ":/newImage/" + tr(guide->pictures[i]);
            }
            QTimer::singleShot(0, this, &MainWindow::polishNextHeldBack);
        }
        return false;
    }
    auto *widget = static_cast<QWidget *>(watched);
    if (!mHeldBack.contains(widget))
        return false;
    // The window's first polish reaches every child, hidden or not: held back.
    if (event->type() == QEvent::Polish)
        return true;
    // Whatever shows a part, it is polished before it paints.
    if (event->type() == QEvent::Show) {
        for (QWidget *part : qAsConst(mHiddenParts)) {
            if (part == widget || part->isAncestorOf(widget))
                polishPart(part);
        }
    }
    return false;
}

bool MainWindow::kindBlocked(int kind) const
{
    return mProblem == ProblemCatalogue || (mProblem == ProblemNoAccess && (mProblemKinds & kind));
}

QString MainWindow::rowText(int kind, bool connected) const
{
    if (mProblem == ProblemCatalogue)
        return tr("Status:Device list unusable");
    if (kindBlocked(kind))
        return tr("Status:No access to the receiver");
    return connected ? tr("Status:Connected") : tr("Status:Not connected");
}

void MainWindow::setRowConnected(QLabel *dot, QLabel *text, int kind, bool connected)
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
    const int pageKind = mPage == PageKeyboard ? PageKeyboard : PageMouse;
    setRowConnected(ui->mouseConnect, ui->mouseStatus, PageMouse, mMouseConnected);
    setRowConnected(ui->keyboardConnect, ui->keyboardStatus, PageKeyboard, mKeyboardConnected);
    setRowConnected(ui->mouseConnect1, ui->connectStatus, pageKind,
                    pageKind == PageKeyboard ? mKeyboardConnected : mMouseConnected);
    mReceiverLine->setReceivers(mPage == PageHome ? QStringList() : mPageReceivers[pageKind],
                                mPage == PageHome ? -1 : mPageChoice[pageKind]);
    fitStatusRows();
    refreshHint();
    updatePairButton();
}

void MainWindow::setPageReceivers(int kind, const QStringList &labels, int current)
{
    if (kind != PageMouse && kind != PageKeyboard)
        return;
    mPageReceivers[kind] = labels;
    mPageChoice[kind] = current;
    refreshRows();
}

void MainWindow::fitStatusRows()
{
    // A row is its dot (24 pixels with the gap) and its text, centred under its card.
    struct Row {
        QWidget *row;
        QLabel *text;
        int left;
        int span;
        int y;
    };
    const Row rows[] = {{ui->widMouseStatus, ui->mouseStatus, 83, 464, 544},
                        {ui->widKeyboardStatus, ui->keyboardStatus, 635, 464, 544},
                        {ui->widConnectStatus, ui->connectStatus, 0, 1132, 20}};
    for (const Row &row : rows) {
        row.text->ensurePolished();
        const int w = row.text->fontMetrics().horizontalAdvance(row.text->text());
        if (24 + w + 4 > row.row->width()) {
            row.row->resize(24 + w + 4, row.row->height());
            row.text->resize(w + 4, row.text->height());
        }
        row.row->move((row.span - w) / 2 + row.left, row.y);
    }
}

void MainWindow::refreshHint()
{
    QString text;
    const int kinds = mPage == PageHome ? 3 : mPage;
    if (mProblem == ProblemNoAccess && (mProblemKinds & kinds)) {
        text = QSysInfo::productType() == QLatin1String("windows")
            ? tr("Another program is holding the receiver: close it, then unplug the receiver and plug it in again.")
            : tr("Install the udev rule, then unplug the receiver and plug it in again (bondara-cli doctor names what is missing).");
    } else if (mProblem == ProblemCatalogue) {
        text = tr("The list of supported receivers is damaged: reinstall Bondara (details: bondara -v).");
    } else if (!mCatalogueWarnings.isEmpty() && mPage == PageHome) {
        // The fields' places read alike in every language; the log has the rest. On a pairing
        // page the tip about pairing matters more.
        QStringList places;
        for (const QString &warning : qAsConst(mCatalogueWarnings))
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
    if (mPage == PageMouse || mPage == PageKeyboard) {
        if (kindBlocked(mPage))
            return false;
    }
    if (mPage == PageMouse)
        return mMouseConnected;
    if (mPage == PageKeyboard)
        return mKeyboardConnected;
    return false;
}

// The state at this moment decides, whoever asks.
void MainWindow::updatePairButton()
{
    const bool enabled = pageConnected() && !mPairing && !mResultLock;
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

void MainWindow::setConnectState(int devType, bool connected, bool tovrik, bool goHome)
{
    mTovrik = tovrik;
    if (devType >= 0 && devType <= 3) {
        mMouseConnected = connected && (devType & 1);
        mKeyboardConnected = connected && (devType & 2);
    }
    if (!goHome) {
        refreshRows();
        return;
    }
    mPage = PageHome;
    showPage(PageHome);
}

void MainWindow::setReceiverProblem(int problem, int kinds)
{
    if (problem < ProblemNone || problem > ProblemCatalogue)
        return;
    mProblem = problem;
    mProblemKinds = problem == ProblemNone ? 0 : kinds & 3;
    refreshRows();
}

void MainWindow::setCatalogueWarnings(const QStringList &warnings)
{
    mCatalogueWarnings = warnings;
    refreshHint();
}

void MainWindow::layOutGuide(int page, bool geometry)
{
    const Guide &guide = page == PageMouse ? kMouseGuide : (mTovrik ? kTovrikGuide : kKeyboardGuide);
    QLabel *const labels[] = {ui->label_2, ui->label_3, ui->label_4, ui->label_5, ui->label_6};
    for (int i = 0; i < guide.count; ++i) {
        if (geometry)
            labels[i]->setGeometry(guide.x[i], 96, 218, 336);
        setSheet(labels[i], "background: url(:/newImage/" + tr(guide.pictures[i]) + ")");
    }
    if (geometry)
        ui->label_6->setVisible(guide.count == 5);
    describeGuide(page);
}

// The guide's pictures as a reader hears them, also while hidden: in the
// window's language, like every other text.
void MainWindow::describeGuide(int page)
{
    mGuidePage = page;
    const Guide &guide = page == PageMouse ? kMouseGuide : (mTovrik ? kTovrikGuide : kKeyboardGuide);
    QLabel *const labels[] = {ui->label_2, ui->label_3, ui->label_4, ui->label_5, ui->label_6};
    for (int i = 0; i < guide.count; ++i) {
        const QString picture = tr(guide.pictures[i]);
        // Described in the language the picture is drawn in.
        const QString key = QString::fromLatin1(guide.pictures[i]).section(QLatin1Char('_'), 0, 0);
        const QJsonObject entry = guideCaptions().value(key).toObject();
        const QJsonObject caption
            = entry.value(picture.endsWith(QLatin1String("_en.png")) ? QLatin1String("en") : QLatin1String("zh"))
                  .toObject();
        labels[i]->setAccessibleName(
            tr("Step %1: %2").arg(entry.value(QLatin1String("step")).toInt()).arg(fillCaption(caption.value(QLatin1String("title")).toString())));
        labels[i]->setAccessibleDescription(fillCaption(caption.value(QLatin1String("text")).toString()));
    }
    // A picture the page does not use keeps nothing from another page.
    for (int i = guide.count; i < 5; ++i) {
        labels[i]->setAccessibleName(QString());
        labels[i]->setAccessibleDescription(QString());
    }
}

void MainWindow::showPage(int page)
{
    QWidget *const focus = focusWidget();
    const bool focusOnPage = focus && (focus == ui->btnReturn || ui->pagePair->isAncestorOf(focus));
    if (page == PageHome) {
        const int left = mPage;
        mCurrentDev = 0;
        ui->pagePair->hide();
        ui->btnReturn->hide();
        ui->pairTitle->move(76, 26);
        ui->mouseTitle->setText(tr("Welcome!"));
        ui->mouseTitle->move(221, 26);

        setHomeWidgetsVisible(true);
        applyTheme(mTheme, true);

        mPage = PageHome;
        showBubble();
        refreshRows();
        // Sent home by the receiver: the keyboard stays on the card of the page it was on.
        if (focusOnPage)
            (left == PageKeyboard ? ui->keyboardCode : ui->mouseCode)->setFocus(Qt::OtherFocusReason);
        return;
    }

    polishPart(ui->pagePair);
    polishPart(ui->btnReturn);
    setHomeWidgetsVisible(false);
    setSheet(ui->centralWidget, "");
    ui->btnReturn->show();
    ui->widgetTitle->show();
    ui->pagePair->show();
    ui->pairTitle->move(540, 24);
    ui->mouseTitle->move(95, 24);

    if (page != PageMouse && page != PageKeyboard)
        return;
    const bool mouse = page == PageMouse;
    const bool connected = mouse ? mMouseConnected : mKeyboardConnected;
    ui->mouseTitle->setText(mouse ? tr("Mouse connect") : tr("Keyboard connect"));
    if (connected)
        mCurrentDev = page;
    mPage = page;
    refreshRows();
    layOutGuide(page, true);
    // Back on the run's page while the receiver still waits, or its result is on show: shown again.
    showBubble();
    if (!focusOnPage)
        (ui->btnPair->isEnabled() ? static_cast<QWidget *>(ui->btnPair) : ui->btnReturn)->setFocus(Qt::OtherFocusReason);
}

void MainWindow::on_mouseCode_clicked()
{
    mCurrentDev = 1;
    showPage(PageMouse);
    mPage = PageMouse;
}

void MainWindow::on_keyboardCode_clicked()
{
    mCurrentDev = 2;
    showPage(PageKeyboard);
    mPage = PageKeyboard;
}

void MainWindow::on_btnReturn_clicked()
{
    const int left = mPage;
    mCurrentDev = 0;
    ui->pagePair->hide();
    ui->btnReturn->hide();
    setHomeWidgetsVisible(true);
    applyTheme(mTheme, true);
    ui->pairTitle->move(76, 26);
    ui->mouseTitle->setText(tr("Welcome!"));
    ui->mouseTitle->move(221, 26);
    mPage = PageHome;
    showBubble();
    refreshRows();
    (left == PageKeyboard ? ui->keyboardCode : ui->mouseCode)->setFocus(Qt::OtherFocusReason);
}

void MainWindow::on_btnPair_clicked()
{
    qDebug() << "mCurrentDev:" << mCurrentDev;
    // One run at a time, whatever reaches the slot.
    if (mPairing || !ui->btnPair->isEnabled())
        return;
    emit sigStartPair(mCurrentDev);
}

void MainWindow::on_btnClose_clicked()
{
    QCoreApplication::exit(0);
}

void MainWindow::on_btnMini_clicked()
{
    showMinimized();
}

void MainWindow::setPairStatus(int status, QString msg)
{
    Q_UNUSED(msg)
    qDebug() << "status:" << status;

    // The receiver's own states leave the bubble alone: a result stays as it was sized.
    if (status == StatusWorking) {
        if (!mPairing)
            mRunPage = mPage;
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
    } else if (status == StatusSuccess || status == StatusFailed) {
        showResult(status == StatusSuccess, 0, QString());
    }
    updatePairButton();
}

void MainWindow::showPairFailure(int failure, const QString &detail)
{
    // Logged as setPairStatus logs a failure, with the reason beside it.
    qDebug() << "status:" << StatusFailed << "failure:" << failure;
    if (failure < FailureUnplugged || failure > FailureBusy)
        failure = FailureUnplugged;
    showResult(false, failure, detail);
    updatePairButton();
}

void MainWindow::setPairProgress(int attempt, int attempts)
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
void MainWindow::describeProgress()
{
    const int attempts = qMax(mProgressAttempts, 1);
    const int left = mProgressAttempts > 0 ? mProgressAttempts - mProgressAttempt : attempts;
    const int fifths = (left * 5 + attempts - 1) / attempts;
    const QString text = tr("%1% of the waiting time left").arg(fifths * 20);
    if (mProgress->accessibleDescription() != text)
        mProgress->setAccessibleDescription(text);
}

QString MainWindow::bubbleText() const
{
    if (mPairing)
        return tr("In the progress of matching code...");
    if (mResult.success)
        return tr("Matched successfully");
    switch (mResult.failure) {
    case 0:
        return tr("Matched failed");
    case FailureOpen:
        return tr("Matched failed: the receiver could not be opened (%1)").arg(mResult.detail);
    case FailureWrite:
        return tr("Matched failed: a report could not be sent to the receiver (%1)").arg(mResult.detail);
    case FailureRead:
        return tr("Matched failed: no reply could be read from the receiver (%1)").arg(mResult.detail);
    case FailureNoAnswer:
        return tr("Matched failed: no device answered in time");
    case FailureRefused:
        return tr("Matched failed: the receiver refused (%1)").arg(mResult.detail);
    case FailureStopped:
        return tr("Pairing stopped");
    case FailureBusy:
        return tr("Matched failed: another program is pairing with the receiver");
    default:
        return tr("Matched failed: the receiver was unplugged");
    }
}

bool MainWindow::runOnPage() const
{
    return (mPairing || mResult.shown) && mRunPage != 0 && mPage == mRunPage;
}

// The one place the bubble is sized: around whatever it says, centred under
// the pairing button, the run's controls beside it. A result keeps sliding
// down from where it is.
void MainWindow::fitBubble()
{
    polishPart(ui->widStatus);
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

// Shown on the run's own page only; a hidden bubble keeps no text for a reader to find.
void MainWindow::showBubble()
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

void MainWindow::showResult(bool success, int failure, const QString &detail)
{
    // A result with no run shown belongs to the page it arrives on.
    if (!mPairing && !mResult.shown)
        mRunPage = mPage;
    mPairing = false;
    mResultLock = true;
    mResult = Result{true, success, failure, detail};
    const int duration = success ? 4000 : 6000;
    polishPart(ui->widStatus);
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
        updatePairButton();
    });
}

// The next frame paints the turned picture: the label schedules it.
void MainWindow::RotaterTimeOut()
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

void MainWindow::slotStopRun()
{
    if (!mPairing)
        return;
    qDebug() << "stop asked for the run on page" << mRunPage;
    emit sigStopPair();
}

void MainWindow::TimerTimeOut()
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

void MainWindow::mousePressEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton) {
        // The window system moves the window itself where it can; moving it
        // here follows the pointer everywhere else.
        mPressed = !mSystemMove(windowHandle());
        mDragOffset = event->globalPos() - pos();
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
        move(event->globalPos() - mDragOffset);
        event->accept();
    }
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
    } else if (mPairing && mPage == mRunPage) {
        slotStopRun();
    } else if (mPage != PageHome) {
        on_btnReturn_clicked();
    } else {
        QMainWindow::keyPressEvent(event);
    }
}

void MainWindow::mouseReleaseEvent(QMouseEvent *)
{
    mPressed = false;
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
    ui->keyboardStatus->setText(rowText(PageKeyboard, mKeyboardConnected));
    ui->mouseStatus->setText(rowText(PageMouse, mMouseConnected));
    ui->connectStatus->setText(rowText(mPage == PageKeyboard ? PageKeyboard : PageMouse,
                                       mPage == PageKeyboard ? mKeyboardConnected : mMouseConnected));
    mReceiverLine->retranslate();
    refreshHint();

    if (mPage == PageHome) {
        ui->mouseTitle->setText(tr("Welcome!"));
        if (mGuidePage)
            describeGuide(mGuidePage);
    } else if (mPage == PageMouse) {
        ui->mouseTitle->setText(tr("Mouse connect"));
        layOutGuide(PageMouse, false);
    } else if (mPage == PageKeyboard) {
        ui->mouseTitle->setText(tr("Keyboard connect"));
        layOutGuide(PageKeyboard, false);
    }
    mStop->setText(tr("Stop"));
    retranslateAccessible();
    fitTextWidths();
    // The words change; the result's fade and the button's pause go on as they were.
    showBubble();
}

void MainWindow::on_btnModify_clicked()
{
    if (ui->widgetLanguage->isVisible())
        ui->widgetLanguage->hide();
    polishPart(ui->colorLabel);
    ui->colorLabel->setVisible(!ui->colorLabel->isVisible());
    if (ui->colorLabel->isVisible())
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
    const ThemeArt &art = kThemes[theme];
    if (homePage) {
        setSheet(ui->centralWidget, QStringLiteral("background-image: url(:/newImage/%1.png);").arg(art.background));
        setSheet(ui->mouseCode, cardSheet(art.card));
        setSheet(ui->keyboardCode, cardSheet(art.card));
    }
    setSheet(ui->btnClose, titleBarSheet(art.close));
    setSheet(ui->btnMini, titleBarSheet(art.minimize));
    setSheet(ui->btnModify, titleBarSheet(art.modifyColor));
    setSheet(ui->btnLanguage, titleBarSheet(art.modifyLan));
    setSheet(ui->widgetTitle, QStringLiteral("background: url(:/newImage/%1.png)").arg(art.title));
    setSheet(ui->mouseTitle, 
        QStringLiteral("background:transparent;font-size:22px;color:%1;").arg(art.titleColor));
    setSheet(ui->pairTitle, QStringLiteral("background-image: url(:/newImage/%1.png)").arg(art.logo));
    setSheet(ui->btnReturn, backSheet(art.returnNormal, art.returnHover));
    if (mFocusRing)
        mFocusRing->setColors(kRingColors[theme][0], kRingColors[theme][1]);
    applyRunTheme(theme);
}

void MainWindow::fitTextWidths()
{
    // Measure in the font the style sheets give, also before the window was
    // first shown (start-up runs this first): until a widget is polished its
    // font is still the plain default.
    for (QWidget *widget : {static_cast<QWidget *>(ui->keyboardCode), static_cast<QWidget *>(ui->btnPair),
                            static_cast<QWidget *>(ui->connectStatus), static_cast<QWidget *>(ui->label_tips)})
        widget->ensurePolished();

    // Each text is held against the widget's designed width, not its current
    // one: against a width that an earlier pass widened, the same English text
    // would fall under the threshold and be squeezed back into the narrow
    // size on every second pass.
    qDebug() << ui->keyboardCode->text();
    int w = ui->keyboardCode->fontMetrics().horizontalAdvance(ui->keyboardCode->text());
    if (w >= 0.7 * kCardWidth) {
        const int n = static_cast<int>(w * 1.5);
        const int x = (494 - n) / 2;
        ui->keyboardCode->setGeometry(x + 635, 126, n, 56);
        ui->mouseCode->setGeometry(x + 83, 126, n, 56);
    } else {
        ui->mouseCode->setGeometry(229, 126, 202, 56);
        ui->keyboardCode->setGeometry(781, 126, 202, 56);
    }

    w = ui->btnPair->fontMetrics().horizontalAdvance(ui->btnPair->text());
    if (w >= 0.7 * kPairWidth) {
        setSheet(ui->btnPair, kWidePairSheet);
        const int n = static_cast<int>(w * 1.5);
        ui->btnPair->setGeometry((kPageWidth - n) / 2, 480, n, 40);
    } else {
        ui->btnPair->setGeometry(527, 480, 146, 40);
    }

    fitStatusRows();

    w = ui->label_tips->fontMetrics().horizontalAdvance(ui->label_tips->text());
    qDebug() << ui->label_tips->width();
    if (w >= 0.9 * kTipsWidth)
        ui->label_tips->setGeometry(445, 70, 310, 24);
    else
        ui->label_tips->setGeometry(516, 70, 147, 24);
}

void MainWindow::on_btnLanguage_clicked()
{
    if (ui->colorLabel->isVisible())
        ui->colorLabel->hide();
    polishPart(ui->widgetLanguage);
    ui->widgetLanguage->setVisible(!ui->widgetLanguage->isVisible());
    // Onto the language that can be chosen.
    if (ui->widgetLanguage->isVisible())
        (ui->btnZH->isEnabled() ? ui->btnZH : ui->btnEN)->setFocus(Qt::OtherFocusReason);
}

void MainWindow::on_btnZH_clicked()
{
    ui->widgetLanguage->hide();
    MainControl::instance().setLanguage(kChinese);
    retranslate();
    updateLanguageButtons(kChinese);
    ui->btnLanguage->setFocus(Qt::OtherFocusReason);
}

void MainWindow::on_btnEN_clicked()
{
    ui->widgetLanguage->hide();
    MainControl::instance().setLanguage(kEnglish);
    retranslate();
    updateLanguageButtons(kEnglish);
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
