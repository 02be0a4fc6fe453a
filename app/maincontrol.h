#pragma once

#include "devicedetail.h"
#include "khidwatcher.h"

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

    void setLanguage(QString lang);
    void showMainWindow();
    MainWindow *window() const { return mWindow; }

    // Releases the window, the watcher and the worker thread while the
    // application object still exists; the controller itself outlives it.
    void shutdown();

signals:
    void startPair(int pairDevType);

public slots:
    void updateStatus(bool status, QString msg);
    void slotMessageReceived(QString msg);

private slots:
    void slotDeviceChange(bool status, QString devicePath);
    void slotDeviceConfigChange(bool status, DeviceDetail detail);

private:
    void requestPairing(int type);

    MainWindow *mWindow = nullptr;
    ConfigController *mConfig = nullptr;
    MouseCommunity *mCommunity = nullptr;
    QThread *mThread = nullptr;
    // By value; emptied at shutdown so no widget outlives the application object.
    std::optional<KHID::KHIDWatcher> mWatcher;
    bool mTovrik = false;
    int mPairType = 0;
    Trans *mTrans = nullptr;
    bool mReceiverPresent = false;
};

// The language a command line asks for: the first "-zh" or "-en", exactly; empty for none.
QString languageFromArguments(const QStringList &arguments);

// Registers a font file and gives a font of its first family.
QFont loadApplicationFont(const QString &path);
