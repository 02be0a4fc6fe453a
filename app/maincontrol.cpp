// SPDX-License-Identifier: MIT
#include "app/maincontrol.h"

#include "app/startup.h"
#include "config/configcontroller.h"
#include "ui/mainwindow.h"
#include "pairing/mousecommunitybt.h"
#include "i18n/trans.h"

#include <QApplication>
#include <QDebug>
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
    startWorker();
    mService = new PairService(this);
    connect(mService, &PairService::sigPairOutcome, this, &MainControl::updateStatus);

    mConfig = new ConfigController;
    // Before the window exists, so that the form's own font families can be
    // mapped onto the interface font and every text is measured in it.
    QApplication::setFont(loadApplicationFont(kInterfaceFont));
    mWindow = new MainWindow;
    connectWindow();

    mTrans = new Trans;
    mTrans->init();
    const QString lang = QLocale().language() == QLocale::Chinese ? LANG_ZH : LANG_EN;
    switchLanguage(lang);

    connect(&*mWatcher, &KHID::KHIDWatcher::sigHIDDeviceChange, this, &MainControl::slotDeviceChange);
    mWatcher->registerNotification();

    if (mConfig->loadConfig()) {
        mWindow->setCatalogueWarnings(mConfig->warnings());
        mConfig->findDevice();
    } else {
        qDebug() << "cannot use the device list" << ConfigController::configFilePath() << mConfig->errorString();
        mCatalogueInvalid = true;
        showReceiverState(true);
    }
}

void MainControl::startWorker()
{
    mThread = new QThread;
    mCommunity = new MouseCommunityBT;
    mCommunity->moveToThread(mThread);
    connect(mThread, &QThread::finished, mCommunity, &QObject::deleteLater);
    connect(mThread, &QThread::finished, mThread, &QObject::deleteLater);
    connect(this, &MainControl::startPair, mCommunity, &MouseCommunity::startPairing);
    connect(mCommunity, &MouseCommunity::sigPairOutcome, this, &MainControl::updateStatus);
    mThread->start();
}

void MainControl::connectWindow()
{
    connect(mConfig, &ConfigController::sigDeviceConfigChange, this, &MainControl::slotDeviceConfigChange);
    connect(mConfig, &ConfigController::sigReceiversFound, this, &MainControl::slotReceiversFound);
    connect(mWindow, &MainWindow::sigStartPair, mWindow, [this](PairKind type) { requestPairing(type); },
            Qt::DirectConnection);
    connect(mWindow, &MainWindow::sigChooseReceiver, this, &MainControl::chooseReceiver);
    mRescan = new QTimer(this);
    mRescan->setSingleShot(true);
    mRescan->setInterval(0);
    connect(mRescan, &QTimer::timeout, this, [this] {
        if (!mCatalogueInvalid)
            mConfig->findDevice();
    });
    connect(mWindow, &MainWindow::sigStopPair, this, &MainControl::slotStopPair);
    // Queued from the worker's thread; a poll of a run whose outcome was shown already is dropped.
    const auto showPoll = [this](int attempt) {
        if (mWindow && mRun == RunSent)
            mWindow->setPairProgress(attempt, MouseCommunityBT::kPollAttempts);
    };
    connect(mCommunity, &MouseCommunity::sigPollAttempt, this, showPoll, Qt::QueuedConnection);
    connect(mService, &PairService::sigPollAttempt, this, showPoll);
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
        // A pairing in progress is cut short (with its end command) so that
        // closing never waits on it. Let go of the worker first: it is deleted
        // on its own thread, which must then have nothing of ours to touch.
        disconnect(mCommunity, nullptr, this, nullptr);
        disconnect(this, nullptr, mCommunity, nullptr);
        mThread->requestInterruption();
        mThread->quit();
        mThread->wait();
        delete mThread;
        mThread = nullptr;
        mCommunity = nullptr;
    }
    // A run of the service's ends with its end command; the service need not wait for us to go.
    delete mService;
    mService = nullptr;
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

void MainControl::switchLanguage(const QString &lang)
{
    setLanguage(lang);
    mWindow->updateLanguageButtons(lang);
    mWindow->retranslate();
}

void MainControl::showMainWindow()
{
    // The interface font went in before the window was made; loading it again would only add a copy.
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
    mWindow->showPairOutcome(outcome);
    // What changed during the run shows now, the result staying in sight.
    showReceiverState(false);
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

namespace {

// A notice names an interface, or (when the system could not tell which) its whole node.
bool concerns(const QString &noticePath, const Receiver &receiver)
{
    return !noticePath.isEmpty()
        && (receiver.path() == noticePath || receiver.path().startsWith(noticePath + QLatin1Char('#')));
}

} // namespace

bool MainControl::scanPending() const
{
    return mRescan && mRescan->isActive();
}

MainControl::ReceiverState MainControl::receiverState() const
{
    if (mCatalogueInvalid)
        return CatalogueInvalid;
    if (mPresent.isEmpty())
        return ReceiverAbsent;
    for (const PresentReceiver &present : mPresent) {
        if (present.access)
            return ReceiverReady;
    }
    return ReceiverNoAccess;
}

void MainControl::slotDeviceChange(bool status, QString devicePath)
{
    qDebug() << "Device Change:" << status << devicePath;
    // The run's own receiver going ends the run at once, whatever a scan would find.
    if (!status && isPairing() && concerns(devicePath, mRunReceiver))
        endRunReceiverGone();
    mRescan->start();
}

void MainControl::slotDeviceConfigChange(bool status, DeviceDetail detail)
{
    if (status)
        mTovrik = detail.Tovrik;
}

bool MainControl::present(const Receiver &receiver) const
{
    for (const PresentReceiver &candidate : mPresent) {
        if (candidate.receiver.sameDevice(receiver))
            return true;
    }
    return false;
}

void MainControl::slotReceiversFound(QVector<Receiver> receivers)
{
    if (mCatalogueInvalid || !mWindow)
        return;
    QVector<PresentReceiver> found;
    std::optional<PairService::Reach> reach;
    for (const Receiver &receiver : receivers) {
        PresentReceiver entry{receiver, true};
        // The run's own receiver is in use; any other is asked again, so that a
        // change of its rights (udevadm trigger) shows without a re-plug.
        if (isPairing() && receiver.sameDevice(mRunReceiver)) {
            entry.viaService = mRunViaService;
        } else {
            std::string reason;
            entry.access = KHID::platform().probeAccess(receiver.path().toStdU16String(), &reason);
            if (!entry.access) {
                // Asked once a scan, and only when needed: the bus may start the service on demand.
                QString missing;
                if (!reach)
                    reach = PairService::reach(&missing);
                entry.viaService = entry.access = *reach == PairService::Reach::Offered;
                qDebug().noquote() << "no access to the receiver" << receiver.label() << receiver.path() << ":"
                                   << QString::fromStdString(reason)
                                   << (entry.viaService ? QStringLiteral("; it pairs through the pairing service")
                                                        : QStringLiteral("; and ") + missing);
            }
        }
        found.append(entry);
    }
    mPresent = found;
    if (reach)
        mServiceReach = *reach;

    if (isPairing()) {
        // Only its own receiver's going ends a run; the rest shows once the run is over.
        if (present(mRunReceiver))
            return;
        endRunReceiverGone();
    }
    showReceiverState(true);
}

QVector<const Receiver *> MainControl::usableFor(PairKind kind) const
{
    QVector<const Receiver *> usable;
    for (const PresentReceiver &present : mPresent) {
        if (present.access && present.receiver.entry.pairs(kind))
            usable.append(&present.receiver);
    }
    return usable;
}

const Receiver *MainControl::chosenReceiver(PairKind kind) const
{
    const QVector<const Receiver *> usable = usableFor(kind);
    for (const Receiver *receiver : usable) {
        if (receiver->sameDevice(mChosen[kind]))
            return receiver;
    }
    return nullptr;
}

void MainControl::chooseReceiver(PairKind kind, int index)
{
    const QVector<const Receiver *> usable = usableFor(kind);
    if (isPairing() || index < 0 || index >= usable.size())
        return;
    mChosen[kind] = *usable.at(index);
    showReceiverState(false);
}

// goHome: a page whose receiver went, with none of its kind left, returns
// home, as the window did with one receiver.
void MainControl::showReceiverState(bool goHome)
{
    if (mCatalogueInvalid) {
        mWindow->setReceiverProblem(MainWindow::ProblemCatalogue);
        mWindow->setPairStatus(PairStatus::NoReceiver, QStringLiteral("未连接"));
        mWindow->setConnectState(kBothKinds, false, mTovrik, true);
        return;
    }

    PairKinds connected;
    PairKinds locked;
    bool lost = false;
    for (PairKind kind : {PairKind::Mouse, PairKind::Keyboard}) {
        const QVector<const Receiver *> usable = usableFor(kind);
        Receiver &chosen = mChosen[kind];
        // The page follows another receiver of its kind when its own goes.
        const bool had = !chosen.path().isEmpty();
        if (!chosenReceiver(kind))
            chosen = usable.isEmpty() ? Receiver() : *usable.first();
        if (!usable.isEmpty())
            connected |= kind;
        else if (had && mWindow->currentPage() == MainWindow::pageOf(kind))
            lost = true;
        for (const PresentReceiver &present : mPresent) {
            if (!present.access && present.receiver.entry.pairs(kind) && usable.isEmpty())
                locked |= kind;
        }
        QStringList labels;
        int current = -1;
        for (const Receiver *receiver : usable) {
            if (receiver->sameDevice(chosen))
                current = labels.size();
            labels << receiver->label();
        }
        mWindow->setPageReceivers(kind, labels, current);
    }
    if (const Receiver *keyboard = chosenReceiver(PairKind::Keyboard))
        mTovrik = keyboard->entry.Tovrik;

    mWindow->setReceiverProblem(locked ? MainWindow::ProblemNoAccess : MainWindow::ProblemNone, locked,
                                mServiceReach);
    // Told only when it changes: a result on show stays as it is.
    const PairStatus status = connected ? PairStatus::Connected : PairStatus::NoReceiver;
    if (status != mShownStatus) {
        mShownStatus = status;
        if (connected) {
            const PairKind shown = connected.testFlag(PairKind::Mouse) ? PairKind::Mouse : PairKind::Keyboard;
            mWindow->setPairStatus(status, connectedStatusText(chosenReceiver(shown)->entry.pid));
        } else {
            mWindow->setPairStatus(status, QStringLiteral("未连接"));
        }
    }
    mWindow->setConnectState(connected ? connected : kBothKinds, bool(connected), mTovrik, goHome && lost);
}

void MainControl::endRunReceiverGone()
{
    qDebug() << "the receiver went away during pairing";
    // The page stays with the reason in sight, and takes another receiver of its kind if one is there.
    mChosen[mPairType] = Receiver();
    if (mRun == RunSent) {
        if (mRunViaService)
            mService->stop();
        else
            mCommunity->abortRun(PairOutcome::Unplugged);
        mRun = RunAbandoned;
    } else {
        // Not yet sent: it never will be.
        mRun = RunIdle;
    }
    mWindow->showPairOutcome({PairOutcome::Unplugged, {}});
}

void MainControl::slotStopPair()
{
    if (mRun == RunRequested) {
        // Not yet sent: nothing reached the receiver.
        mRun = RunIdle;
        mWindow->showPairOutcome({PairOutcome::Stopped, {}});
        showReceiverState(false);
    } else if (mRun == RunSent) {
        // The worker, or the service, ends the run with the end command and reports it stopped.
        if (mRunViaService)
            mService->stop();
        else
            mCommunity->abortRun(PairOutcome::Stopped);
    }
}

void MainControl::requestPairing(PairKind type)
{
    // One run at a time, and only for what a present receiver can pair.
    if (mRun != RunIdle) {
        qDebug() << "pairing request ignored: a pairing is in progress";
        return;
    }
    const Receiver *receiver = chosenReceiver(type);
    if (!receiver) {
        qDebug() << "pairing request ignored: no receiver can pair" << int(type);
        return;
    }
    mWindow->setPairStatus(PairStatus::Working, QStringLiteral("对码中..."));
    mPairType = type;
    mRunReceiver = *receiver;
    mRunViaService = false;
    for (const PresentReceiver &present : mPresent) {
        if (present.receiver.sameDevice(*receiver))
            mRunViaService = present.viaService;
    }
    mRun = RunRequested;
    QTimer::singleShot(100, Qt::PreciseTimer, this, [this] {
        if (mRun != RunRequested)
            return;
        mRun = RunSent;
        if (mRunViaService) {
            mService->start(mRunReceiver, mPairType);
            return;
        }
        mCommunity->clearAbort();
        mCommunity->handOver(mRunReceiver);
        emit startPair(mPairType);
    });
}
