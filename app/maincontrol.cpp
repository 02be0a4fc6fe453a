// SPDX-License-Identifier: MIT
#include "maincontrol.h"

#include "configcontroller.h"
#include "mainwindow.h"
#include "mousecommunitybt.h"
#include "trans.h"

#include <QApplication>
#include <QDebug>
#include <QFontDatabase>
#include <QLocale>
#include <QThread>
#include <QTimer>

namespace {

const char *const kInterfaceFont = ":/font/SOURCEHANSANSCN-NORMAL_0.ttf";

} // namespace

MainControl &MainControl::instance()
{
    static MainControl control;
    return control;
}

MainControl::MainControl(QObject *parent)
    : QObject(parent)
    , mWatcher(std::in_place)
{
    qDebug() << "+MainControl";

    mThread = new QThread;
    mCommunity = new MouseCommunityBT;
    mCommunity->moveToThread(mThread);
    connect(mThread, &QThread::finished, mCommunity, &QObject::deleteLater);
    connect(mThread, &QThread::finished, mThread, &QObject::deleteLater);
    connect(this, &MainControl::startPair, mCommunity, &MouseCommunity::startPairing);
    connect(mCommunity, &MouseCommunity::sigPairOutcome, this, &MainControl::updateStatus);
    mThread->start();

    mConfig = new ConfigController;
    // Before the window exists, so that the form's own font families can be
    // mapped onto the interface font and every text is measured in it.
    QApplication::setFont(loadApplicationFont(kInterfaceFont));
    mWindow = new MainWindow;
    connect(mConfig, &ConfigController::sigDeviceConfigChange, this, &MainControl::slotDeviceConfigChange);
    connect(mWindow, &MainWindow::sigStartPair, mWindow, [this](int type) { requestPairing(type); },
            Qt::DirectConnection);
    connect(mWindow, &MainWindow::sigStopPair, this, &MainControl::slotStopPair);
    // Queued from the worker's thread; a poll of a run whose outcome was shown already is dropped.
    connect(mCommunity, &MouseCommunity::sigPollAttempt, this, [this](int attempt) {
        if (mWindow && mRun == RunSent)
            mWindow->setPairProgress(attempt, MouseCommunityBT::kPollAttempts);
    }, Qt::QueuedConnection);

    mTrans = new Trans;
    mTrans->init();
    const QString lang = QLocale().language() == QLocale::Chinese ? LANG_ZH : LANG_EN;
    mTrans->setCurrentLang(lang);
    mWindow->updateLanguageButtons(lang);
    mWindow->retranslate();

    connect(&*mWatcher, &KHID::KHIDWatcher::sigHIDDeviceChange, this, &MainControl::slotDeviceChange);
    mWatcher->registerNotification();

    if (mConfig->loadConfig()) {
        mConfig->findDevice();
        if (mReceiverState == ReceiverAbsent)
            showReceiverState(true);
    } else {
        qDebug() << "cannot use the device list" << ConfigController::configFilePath() << mConfig->errorString();
        mReceiverState = CatalogueInvalid;
        showReceiverState(true);
    }
}

MainControl::~MainControl()
{
    qDebug() << "-MainControl";
    if (mWindow)
        mWindow->deleteLater();
    if (mConfig)
        mConfig->deleteLater();
    if (mTrans)
        mTrans->deleteLater();
}

void MainControl::shutdown()
{
    delete mWindow;
    mWindow = nullptr;
    mWatcher.reset();
    if (mThread) {
        // The worker goes with the thread's finish; the thread itself here.
        // A pairing in progress is cut short so that closing never waits on it.
        mThread->requestInterruption();
        mThread->quit();
        mThread->wait();
        delete mThread;
        mThread = nullptr;
        mCommunity = nullptr;
    }
    // Receivers released by the worker wait for deferred deletion on this thread.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    delete mConfig;
    mConfig = nullptr;
    delete mTrans;
    mTrans = nullptr;
}

QString MainControl::connectedStatusText(int pid)
{
    return QStringLiteral("已连接(pid:0x") + QString::number(pid, 16) + QStringLiteral(")");
}

void MainControl::setLanguage(QString lang)
{
    mTrans->setCurrentLang(lang);
    mWindow->update();
}

void MainControl::showMainWindow()
{
    // Installed with the window already; a second registration would only add a copy.
    mWindow->show();
}

void MainControl::updateStatus(PairOutcome outcome)
{
    if (!mWindow)
        return;
    if (mRun == RunAbandoned) {
        // The user was told already why this run ended.
        qDebug() << "pairing result after the receiver went away:" << outcome.describe();
        mRun = RunIdle;
        return;
    }
    mRun = RunIdle;
    qDebug().noquote() << "pairing ended:" << outcome.describe();
    switch (outcome.reason) {
    case PairOutcome::Paired:
        mWindow->setPairStatus(StatusSuccess, QString());
        break;
    case PairOutcome::Unplugged:
        mWindow->showPairFailure(MainWindow::FailureUnplugged);
        break;
    case PairOutcome::OpenFailed:
        mWindow->showPairFailure(MainWindow::FailureOpen, outcome.detail);
        break;
    case PairOutcome::WriteFailed:
        mWindow->showPairFailure(MainWindow::FailureWrite, outcome.detail);
        break;
    case PairOutcome::ReadFailed:
        mWindow->showPairFailure(MainWindow::FailureRead, outcome.detail);
        break;
    case PairOutcome::NoAnswer:
        mWindow->showPairFailure(MainWindow::FailureNoAnswer);
        break;
    case PairOutcome::Refused:
        mWindow->showPairFailure(MainWindow::FailureRefused, outcome.detail);
        break;
    case PairOutcome::NoReceiver:
    case PairOutcome::Stopped:
        mWindow->setPairStatus(StatusFailed, QString());
        break;
    }
}

void MainControl::slotMessageReceived(QString msg)
{
    if (mWindow) {
        mWindow->setWindowState(mWindow->windowState() & ~Qt::WindowMinimized);
        mWindow->show();
        mWindow->raise();
        mWindow->activateWindow();
        // Where the window system does not hand the focus to a program that
        // asks for it (Wayland), the window at least asks for attention.
        if (!mWindow->isActiveWindow())
            QApplication::alert(mWindow);
    }
    qDebug() << msg;
}

void MainControl::slotDeviceChange(bool status, QString devicePath)
{
    qDebug() << "Device Change:" << status << devicePath;
    // The rescan reports back through slotDeviceConfigChange before it returns.
    mConfig->slotDeviceChange(status, devicePath);
}

void MainControl::slotDeviceConfigChange(bool status, DeviceDetail detail)
{
    // Nothing can be found without a usable catalogue; the window keeps saying why.
    if (mReceiverState == CatalogueInvalid)
        return;

    const bool sameReceiver = status && mReceiverState != ReceiverAbsent && detail.sameReceiver(mReceiver);
    bool goHome = true;
    if (isPairing()) {
        // Other devices coming and going change nothing while a pairing runs.
        if (sameReceiver)
            return;
        endRunReceiverGone();
        // The failure and its reason stay in sight on the pairing page.
        goHome = false;
    } else if (sameReceiver && mReceiverState == ReceiverReady) {
        return;
    }

    if (!status) {
        if (mReceiverState == ReceiverAbsent && goHome)
            return;
        mReceiverState = ReceiverAbsent;
        showReceiverState(goHome);
        return;
    }

    const ReceiverState before = mReceiverState;
    mReceiver = detail;
    mTovrik = detail.Tovrik;
    QString reason;
    if (mCommunity->handOverReceiver(detail, &reason)) {
        mReceiverState = ReceiverReady;
    } else {
        mReceiverState = ReceiverNoAccess;
        qDebug().noquote() << "no access to the receiver" << detail.name << ":" << reason;
    }
    // Still no access to the same receiver: nothing to tell.
    if (sameReceiver && mReceiverState == before && goHome)
        return;
    showReceiverState(goHome);
}

void MainControl::showReceiverState(bool goHome)
{
    switch (mReceiverState) {
    case ReceiverAbsent:
        mWindow->setReceiverProblem(MainWindow::ProblemNone);
        mWindow->setPairStatus(StatusNoReceiver, QStringLiteral("未连接"));
        mWindow->setConnectState(KindSet, false, mTovrik, goHome);
        break;
    case ReceiverReady:
        mWindow->setReceiverProblem(MainWindow::ProblemNone);
        mWindow->setPairStatus(StatusConnected, connectedStatusText(mReceiver.pid));
        // A receiver that pairs nothing the window knows shows both cards not connected.
        mWindow->setConnectState(mReceiver.pairKinds() ? mReceiver.pairKinds() : KindSet,
                                 mReceiver.pairKinds() != 0, mTovrik, goHome);
        break;
    case ReceiverNoAccess:
        mWindow->setReceiverProblem(MainWindow::ProblemNoAccess);
        mWindow->setPairStatus(StatusNoReceiver, QStringLiteral("未连接"));
        mWindow->setConnectState(KindSet, false, mTovrik, goHome);
        break;
    case CatalogueInvalid:
        mWindow->setReceiverProblem(MainWindow::ProblemCatalogue);
        mWindow->setPairStatus(StatusNoReceiver, QStringLiteral("未连接"));
        mWindow->setConnectState(KindSet, false, mTovrik, goHome);
        break;
    }
}

void MainControl::endRunReceiverGone()
{
    qDebug() << "the receiver went away during pairing";
    if (mRun == RunSent) {
        mCommunity->abortRun();
        mRun = RunAbandoned;
    } else {
        // Not yet sent: it never will be.
        mRun = RunIdle;
    }
    mWindow->showPairFailure(MainWindow::FailureUnplugged);
}

void MainControl::slotStopPair()
{
    qDebug() << "stop asked during pairing, run state" << mRun;
    if (mRun == RunSent)
        mCommunity->abortRun();
}

void MainControl::requestPairing(int type)
{
    // One run at a time, and only for what the present receiver can pair.
    if (mRun != RunIdle) {
        qDebug() << "pairing request ignored: a pairing is in progress";
        return;
    }
    if (mReceiverState != ReceiverReady || !mReceiver.pairs(type)) {
        qDebug() << "pairing request ignored: the receiver cannot pair" << type;
        return;
    }
    mWindow->setPairStatus(StatusWorking, QStringLiteral("对码中..."));
    mPairType = type;
    mRun = RunRequested;
    QTimer::singleShot(100, Qt::PreciseTimer, this, [this] {
        if (mRun != RunRequested)
            return;
        mRun = RunSent;
        mCommunity->clearAbort();
        emit startPair(mPairType);
    });
}

QString languageFromArguments(const QStringList &arguments)
{
    for (const QString &argument : arguments) {
        if (argument == QLatin1String("-zh"))
            return QStringLiteral("zh");
        if (argument == QLatin1String("-en"))
            return QStringLiteral("en");
    }
    return QString();
}

namespace {

// Qt's own options, which QApplication takes out of the command line itself,
// each with one dash or two.
const char *const kQtFlags[] = {"-reverse", "-widgetcount", "-sync", "-nograb", "-dograb", "-visual", "-cmap"};
const char *const kQtValueOptions[] = {"-platform", "-platformpluginpath", "-platformtheme", "-plugin",
                                       "-qwindowgeometry", "-qwindowicon", "-qwindowtitle", "-session",
                                       "-display", "-geometry", "-name", "-title", "-style", "-stylesheet",
                                       "-qmljsdebugger"};

bool isQtOption(QString argument, bool *takesValue)
{
    *takesValue = false;
    if (argument.startsWith(QLatin1String("--")))
        argument.remove(0, 1);
    for (const char *flag : kQtFlags) {
        if (argument == QLatin1String(flag))
            return true;
    }
    for (const char *option : kQtValueOptions) {
        const QLatin1String name(option);
        if (argument == name) {
            *takesValue = true;
            return true;
        }
        if (argument.startsWith(name + QLatin1Char('=')))
            return true;
    }
    return false;
}

} // namespace

StartOptions parseStartOptions(const QStringList &arguments)
{
    StartOptions options;
    options.language = languageFromArguments(arguments);
    options.qtArguments = arguments.mid(0, 1);
    for (int i = 1; i < arguments.size(); ++i) {
        const QString &argument = arguments.at(i);
        options.qtArguments << argument;
        bool takesValue = false;
        if (argument == QLatin1String("-v") || argument == QLatin1String("--verbose"))
            options.verbose = true;
        else if (argument == QLatin1String("-h") || argument == QLatin1String("--help"))
            options.help = true;
        else if (argument == QLatin1String("--version"))
            options.version = true;
        else if (argument == QLatin1String("-zh") || argument == QLatin1String("-en"))
            continue;
        else if (isQtOption(argument, &takesValue)) {
            const int equals = argument.indexOf(QLatin1Char('='));
            if (takesValue && i + 1 < arguments.size()) {
                options.qtArguments << arguments.at(++i);
            } else if (equals > 0) {
                options.qtArguments.last().truncate(equals);
                options.qtArguments << argument.mid(equals + 1);
            }
        }
        // Anything not an option (a file name, say) is left alone, as it always was.
        else if (argument.startsWith(QLatin1Char('-')) && argument.size() > 1 && options.unknown.isEmpty())
            options.unknown = argument;
    }
    return options;
}

QString startUsageText()
{
    return QStringLiteral("Usage: bondara [-zh | -en] [-v]\n"
                          "Pairs a wireless mouse or keyboard with its USB receiver.\n"
                          "\n"
                          "Options:\n"
                          "  -zh, -en        the language of the window (the system's by default)\n"
                          "  -v, --verbose   write the diagnostic log to standard error\n"
                          "  -h, --help      show this help\n"
                          "  --version       show the version\n");
}

QFont loadApplicationFont(const QString &path)
{
    const int id = QFontDatabase::addApplicationFont(path);
    if (id == -1) {
        qDebug() << "error : addApplicationFont" << path;
        return QFont();
    }
    const QStringList families = QFontDatabase::applicationFontFamilies(id);
    if (families.isEmpty()) {
        qDebug() << "error : QFontDatabase::applicationFontFamilies" << path;
        qDebug() << "error : addApplicationFont" << path;
        return QFont();
    }
    QFont font(families.first());
    font.setWeight(QFont::Normal);
    qDebug() << "[INFO] Add Font:" << font.toString();
    return font;
}
