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
    connect(mCommunity, &MouseCommunity::sigPairResult, this, &MainControl::updateStatus);
    mThread->start();

    mConfig = new ConfigController;
    mWindow = new MainWindow;
    connect(mConfig, &ConfigController::sigDeviceConfigChange, this, &MainControl::slotDeviceConfigChange);
    connect(mWindow, &MainWindow::sigStartPair, mWindow, [this](int type) { requestPairing(type); },
            Qt::DirectConnection);

    mTrans = new Trans;
    mTrans->init();
    const QString lang = QLocale().language() == QLocale::Chinese ? LANG_ZH : LANG_EN;
    mTrans->setCurrentLang(lang);
    mWindow->updateLanguageButtons(lang);
    mWindow->retranslate();

    connect(&*mWatcher, &KHID::KHIDWatcher::sigHIDDeviceChange, this, &MainControl::slotDeviceChange);
    mWatcher->registerNotification();

    mConfig->loadConfig();
    mConfig->findDevice();
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
    const QFont font = loadApplicationFont(":/font/SOURCEHANSANSCN-NORMAL_0.ttf");
    QApplication::setFont(font);
    mWindow->show();
}

void MainControl::updateStatus(bool status, QString msg)
{
    if (!mWindow)
        return;
    mWindow->setPairStatus(status ? StatusSuccess : StatusFailed, msg);
}

void MainControl::slotMessageReceived(QString msg)
{
    if (mWindow) {
        mWindow->setWindowState(mWindow->windowState() & ~Qt::WindowMinimized);
        mWindow->raise();
        mWindow->activateWindow();
        mWindow->show();
    }
    qDebug() << msg;
}

void MainControl::slotDeviceChange(bool status, QString devicePath)
{
    qDebug() << "Device Change:" << status << devicePath;
    mConfig->slotDeviceChange(status, devicePath);
    // Only when the rescan found no receiver: another device going away
    // must not make a present receiver look unplugged.
    if (!status && !mReceiverPresent)
        mWindow->setConnectState(KindSet, false, mTovrik);
}

void MainControl::slotDeviceConfigChange(bool status, DeviceDetail detail)
{
    mReceiverPresent = status;
    if (!status) {
        mWindow->setPairStatus(StatusNoReceiver, QStringLiteral("未连接"));
        return;
    }

    mCommunity->handOverReceiver(detail);
    mWindow->setPairStatus(StatusConnected, connectedStatusText(detail.pid));
    mTovrik = mConfig->isTovrik(detail.pid);
    if (mConfig->isSuit(detail.pid))
        mWindow->setConnectState(KindSet, true, mTovrik);
    else if (mConfig->isMouse(detail.pid))
        mWindow->setConnectState(KindMouse, true, mTovrik);
    else if (mConfig->isKeyboard(detail.pid))
        mWindow->setConnectState(KindKeyboard, true, mTovrik);
}

void MainControl::requestPairing(int type)
{
    mWindow->setPairStatus(StatusWorking, QStringLiteral("对码中..."));
    mPairType = type;
    // The value sent is the one current when the timer fires.
    QTimer::singleShot(100, Qt::PreciseTimer, [this] { emit startPair(mPairType); });
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
