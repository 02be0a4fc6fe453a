// SPDX-License-Identifier: MIT
#pragma once

#include "config/devicedetail.h"
#include "app/khidwatcher.h"
#include "pairing/mousecommunity.h"
#include "pairing/pairservice.h"
#include "config/receiver.h"
#include "ui/pairstatus.h"

#include <QObject>
#include <QString>

#include <optional>

class ConfigController;
class MainWindow;
class MouseCommunity;
class QThread;
class QTimer;
class Trans;

// The one object that ties the program together: device changes become
// catalogue scans and window updates, the user's pairing request goes to the
// worker thread, and the worker's result comes back to the window.
class MainControl : public QObject
{
    Q_OBJECT

public:
    static MainControl &instance();

    explicit MainControl(QObject *parent = nullptr);
    ~MainControl() override;

    // The status text of a connected receiver, "已连接(pid:0x…)".
    static QString connectedStatusText(int pid);

    // What the controller knows of the receivers, as the window shows it:
    // ready when one can be used, no access when some are there but none can.
    enum ReceiverState { ReceiverAbsent, ReceiverReady, ReceiverNoAccess, CatalogueInvalid };
    ReceiverState receiverState() const;
    // A pairing request is on its way or running, and its outcome not yet shown.
    bool isPairing() const { return mRun == RunRequested || mRun == RunSent; }
    // Device changes have come in that no scan has looked at yet.
    bool scanPending() const;

    // A receiver present, and whether it can be paired: opened by this user,
    // or else through the pairing service.
    struct PresentReceiver {
        Receiver receiver;
        bool access = false;
        bool viaService = false;
    };
    QVector<PresentReceiver> receivers() const { return mPresent; }
    // The receiver a pairing page pairs with; null for none.
    const Receiver *chosenReceiver(PairKind kind) const;
    // The user's choice on a pairing page, by its place among the usable
    // receivers of that kind; not stored.
    void chooseReceiver(PairKind kind, int index);

    // Makes `lang` the translations' language; the window follows through switchLanguage.
    void setLanguage(QString lang);
    // The one way the language changes: the translations, the window's
    // language buttons, then every text and picture of the window.
    void switchLanguage(const QString &lang);
    void showMainWindow();
    MainWindow *window() const { return mWindow; }

    // Releases the window, the watcher and the worker thread while the
    // application object still exists; the controller itself outlives it.
    void shutdown();

signals:
    void startPair(PairKind pairDevType);

public slots:
    void updateStatus(PairOutcome outcome);
    void slotMessageReceived(QString msg);

private slots:
    void slotDeviceChange(bool status, QString devicePath);
    void slotDeviceConfigChange(bool status, DeviceDetail detail);
    void slotReceiversFound(QVector<Receiver> receivers);
    void slotStopPair();

private:
    // Idle; requested (the delay before the worker is asked); sent (the worker
    // runs it); abandoned (its outcome was shown already, the worker's answer
    // is still to come and is dropped).
    enum RunState { RunIdle, RunRequested, RunSent, RunAbandoned };

    // The pairing worker on a thread of its own.
    void startWorker();
    // The catalogue's scans, the window's requests and the runs' polls to the controller.
    void connectWindow();
    void requestPairing(PairKind type);
    void endRunReceiverGone();
    void showReceiverState(bool goHome);
    // The usable receivers that pair this kind, in scan order.
    QVector<const Receiver *> usableFor(PairKind kind) const;
    bool present(const Receiver &receiver) const;

    MainWindow *mWindow = nullptr;
    ConfigController *mConfig = nullptr;
    MouseCommunity *mCommunity = nullptr;
    // Pairs the receivers this user cannot open, when the system has the service.
    PairService *mService = nullptr;
    // Why the service cannot stand in, as the last scan that needed it found.
    PairService::Reach mServiceReach = PairService::Reach::NoBus;
    QThread *mThread = nullptr;
    // By value; emptied at shutdown so no widget outlives the application object.
    std::optional<KHID::KHIDWatcher> mWatcher;
    bool mTovrik = false;
    PairKind mPairType = PairKind::Mouse;
    Trans *mTrans = nullptr;
    bool mCatalogueInvalid = false;
    QVector<PresentReceiver> mPresent;
    // The receiver each pairing page shows.
    PerKind<Receiver> mChosen;
    // Device changes that come together (the collections of one device) make one scan.
    QTimer *mRescan = nullptr;
    Receiver mRunReceiver;
    bool mRunViaService = false;
    RunState mRun = RunIdle;
    // The status last told to the window (connected or none); none before the first.
    std::optional<PairStatus> mShownStatus;
};
