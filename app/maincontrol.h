// SPDX-License-Identifier: MIT
#pragma once

#include "devicedetail.h"
#include "khidwatcher.h"
#include "mousecommunity.h"

#include <QFont>
#include <QObject>
#include <QString>

#include <optional>

class ConfigController;
class MainWindow;
class MouseCommunity;
class QThread;
class Trans;

// The one object that ties the program together: device changes become
// catalogue scans and window updates, the user's pairing request goes to the
// worker thread, and the worker's result comes back to the window.
class MainControl : public QObject
{
    Q_OBJECT

public:
    // Codes shared with the window and the worker.
    enum DeviceKind { KindMouse = 1, KindKeyboard = 2, KindSet = 3 };
    enum Status { StatusNoReceiver = 0, StatusConnected = 1, StatusWorking = 2, StatusSuccess = 3, StatusFailed = 4 };

    static MainControl &instance();

    explicit MainControl(QObject *parent = nullptr);
    ~MainControl() override;

    // The status text of a connected receiver, "已连接(pid:0x…)".
    static QString connectedStatusText(int pid);

    // What the controller knows of the receiver, as the window shows it.
    enum ReceiverState { ReceiverAbsent, ReceiverReady, ReceiverNoAccess, CatalogueInvalid };
    ReceiverState receiverState() const { return mReceiverState; }
    // A pairing request is on its way or running, and its outcome not yet shown.
    bool isPairing() const { return mRun == RunRequested || mRun == RunSent; }

    void setLanguage(QString lang);
    void showMainWindow();
    MainWindow *window() const { return mWindow; }

    // Releases the window, the watcher and the worker thread while the
    // application object still exists; the controller itself outlives it.
    void shutdown();

signals:
    void startPair(int pairDevType);

public slots:
    void updateStatus(PairOutcome outcome);
    void slotMessageReceived(QString msg);

private slots:
    void slotDeviceChange(bool status, QString devicePath);
    void slotDeviceConfigChange(bool status, DeviceDetail detail);
    void slotStopPair();

private:
    // Idle; requested (the delay before the worker is asked); sent (the worker
    // runs it); abandoned (its outcome was shown already, the worker's answer
    // is still to come and is dropped).
    enum RunState { RunIdle, RunRequested, RunSent, RunAbandoned };

    void requestPairing(int type);
    void endRunReceiverGone();
    void showReceiverState(bool goHome);

    MainWindow *mWindow = nullptr;
    ConfigController *mConfig = nullptr;
    MouseCommunity *mCommunity = nullptr;
    QThread *mThread = nullptr;
    // By value; emptied at shutdown so no widget outlives the application object.
    std::optional<KHID::KHIDWatcher> mWatcher;
    bool mTovrik = false;
    int mPairType = 0;
    Trans *mTrans = nullptr;
    ReceiverState mReceiverState = ReceiverAbsent;
    DeviceDetail mReceiver;
    RunState mRun = RunIdle;
};

// The options of the window program: the language, the log, help and version.
struct StartOptions {
    QString language;  // "zh", "en" or empty
    bool verbose = false;
    bool help = false;
    bool version = false;
    QString unknown;   // the first option not understood
    // The command line as handed to Qt, which reads an option's value only
    // as the next argument: "--platform=x" becomes "--platform", "x".
    QStringList qtArguments;
};
StartOptions parseStartOptions(const QStringList &arguments);
QString startUsageText();

// The language a command line asks for: the first "-zh" or "-en", exactly; empty for none.
QString languageFromArguments(const QStringList &arguments);

// Registers a font file and gives a font of its first family.
QFont loadApplicationFont(const QString &path);
