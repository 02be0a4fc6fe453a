// SPDX-License-Identifier: MIT
// The window's costs, each against a baseline measured in the same run:
//   start-up to the first painted frame, against a minimal Qt Widgets program
//   (a 1200 x 700 frameless window with one background picture);
//   a hot-plug event to the repainted connection row;
//   CPU while idle on the home page and while the working icon turns;
//   resident memory after start;
//   the first opening of the mouse page, right at the first frame, 250 ms after
//   it (about the earliest a person clicks) and once the
//   idle time after it has passed, and the longest turn of the event loop in
//   that idle time;
//   decoding the embedded pictures, against the same pictures as QImage::save writes them.
// Run without arguments: it starts itself in each role, on the simulated receiver.

#include "app/maincontrol.h"
#include "ui/mainwindow.h"
#include "app/startup.h"

#include "sim/ksimplatform.h"

#include "bench/benchsupport.h"

#include <QApplication>
#include <QBuffer>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QProcess>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <sys/resource.h>
#include <vector>

namespace {

const char *const kSpawnVariable = "BONDARA_BENCH_SPAWNED_NS";
const char *const kRoleVariable = "BONDARA_BENCH_ROLE";

qint64 monotonicNs()
{
    timespec now {};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return qint64(now.tv_sec) * 1000000000 + now.tv_nsec;
}

double cpuSeconds()
{
    rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

long residentKiB()
{
    QFile status("/proc/self/status");
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLong();
    }
    return -1;
}

// Ten seconds each for the CPU figures, unless told otherwise.
int idleMs()
{
    return qEnvironmentVariableIntValue("BONDARA_BENCH_IDLE_MS") > 0 ? qEnvironmentVariableIntValue("BONDARA_BENCH_IDLE_MS") : 10000;
}

QString role()
{
    return qEnvironmentVariable(kRoleVariable);
}

// Watches for the first frame of the window named `window`, then runs `then`.
class FirstFrame : public QObject
{
public:
    FirstFrame(const QString &window, std::function<void()> then)
        : mWindow(window)
        , mThen(std::move(then))
    {
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (!mSeen && event->type() == QEvent::Paint && watched->isWidgetType()
            && static_cast<QWidget *>(watched)->window()->objectName() == mWindow) {
            mSeen = true;
            QTimer::singleShot(0, qApp, mThen);
        }
        return false;
    }

private:
    QString mWindow;
    std::function<void()> mThen;
    bool mSeen = false;
};

void report(const char *key, double value)
{
    std::printf("%s %.3f\n", key, value);
    std::fflush(stdout);
}

// The receiver goes and comes back; the time from its arrival to the repainted row.
class HotPlug : public QObject
{
public:
    explicit HotPlug(QLabel *row)
        : mRow(row)
        , mSim(dynamic_cast<KHID::KSimPlatform *>(&KHID::platform()))
        , mReceiver(mSim->interfaces())
    {
        mRow->installEventFilter(this);
    }

    void next()
    {
        for (const KHID::KSimInterface &interface : mReceiver)
            mSim->unplug(interface.path);
        QCoreApplication::processEvents();
        mWaiting = true;
        mStart = monotonicNs();
        for (const KHID::KSimInterface &interface : mReceiver)
            mSim->plug(interface);
    }

protected:
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (mWaiting && event->type() == QEvent::Paint) {
            mWaiting = false;
            mTimes.push_back((monotonicNs() - mStart) / 1e6);
            if (mTimes.size() < 21) {
                QTimer::singleShot(20, this, [this] { next(); });
            } else {
                std::sort(mTimes.begin(), mTimes.end());
                report("hotplug_ms", mTimes[mTimes.size() / 2]);
                QCoreApplication::exit(0);
            }
        }
        return false;
    }

private:
    QLabel *mRow;
    KHID::KSimPlatform *mSim;
    QVector<KHID::KSimInterface> mReceiver;
    std::vector<double> mTimes;
    qint64 mStart = 0;
    bool mWaiting = false;
};

// Work on the GUI thread from the click on the mouse card to the pairing
// page painted: the slot, then the paint it asks for (done at once here; in
// use it is an event of its own).
struct PageOpen {
    double slotMs;
    double paintMs;
};

PageOpen openMousePage(MainWindow *window)
{
    const qint64 start = monotonicNs();
    QMetaObject::invokeMethod(window, "on_mouseCode_clicked");
    const qint64 shown = monotonicNs();
    window->repaint();
    return {(shown - start) / 1e6, (monotonicNs() - shown) / 1e6};
}

void reportPageOpen(const PageOpen &open)
{
    report("page_slot_ms", open.slotMs);
    report("page_paint_ms", open.paintMs);
}

// The longest time the event loop was kept from a 1 ms timer: how long the
// longest piece of work in between took.
class LongestTurn : public QObject
{
public:
    LongestTurn()
    {
        auto *tick = new QTimer(this);
        tick->setTimerType(Qt::PreciseTimer);
        connect(tick, &QTimer::timeout, this, [this] {
            const qint64 now = monotonicNs();
            if (mLast)
                mLongest = std::max(mLongest, (now - mLast) / 1e6 - 1);
            mLast = now;
        });
        tick->start(1);
    }
    double longestMs() const { return mLongest; }

private:
    qint64 mLast = 0;
    double mLongest = 0;
};

// Runs once the program's window has painted its first frame.
void measureProgram()
{
    const double startMs = (monotonicNs() - qEnvironmentVariable(kSpawnVariable).toLongLong()) / 1e6;
    report("start_ms", startMs);
    report("rss_kib", residentKiB());
    MainWindow *window = MainControl::instance().window();
    if (role() == "start") {
        QCoreApplication::exit(0);
        return;
    }
    if (role() == "page_cold") {
        reportPageOpen(openMousePage(window));
        QCoreApplication::exit(0);
        return;
    }
    // About the earliest a person can find the card and click it.
    if (role() == "page_quick") {
        QTimer::singleShot(250, qApp, [=] {
            reportPageOpen(openMousePage(window));
            QCoreApplication::exit(0);
        });
        return;
    }
    if (role() == "page_idle") {
        auto *turns = new LongestTurn;
        QTimer::singleShot(1000, qApp, [=] {
            report("longest_turn_ms", turns->longestMs());
            report("rss_idle_kib", residentKiB());
            reportPageOpen(openMousePage(window));
            QCoreApplication::exit(0);
        });
        return;
    }

    // Idle on the home page.
    const double idleCpu = cpuSeconds();
    QElapsedTimer wall;
    wall.start();
    QTimer::singleShot(idleMs(), qApp, [=]() mutable {
        report("idle_cpu_percent", 100 * (cpuSeconds() - idleCpu) / (wall.elapsed() / 1000.0));
        // The working icon turning every 14 ms.
        window->setPairStatus(PairStatus::Working, QString());
        const double busyCpu = cpuSeconds();
        wall.restart();
        QTimer::singleShot(idleMs(), qApp, [=] {
            report("working_cpu_percent", 100 * (cpuSeconds() - busyCpu) / (wall.elapsed() / 1000.0));
            window->setPairStatus(PairStatus::Connected, QString());
            (new HotPlug(window->findChild<QLabel *>("mouseStatus")))->next();
        });
    });
}

int runMinimal(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QWidget window;
    window.setObjectName("Minimal");
    window.setWindowFlag(Qt::FramelessWindowHint);
    window.resize(1200, 700);
    window.setStyleSheet("background-image: url(:/newImage/home_page4.png);");
    FirstFrame frame("Minimal", [] {
        report("start_ms", (monotonicNs() - qEnvironmentVariable(kSpawnVariable).toLongLong()) / 1e6);
        report("rss_kib", residentKiB());
        QCoreApplication::exit(0);
    });
    app.installEventFilter(&frame);
    window.show();
    return app.exec();
}

// The program itself, with a watcher for its first frame hooked in as the
// application object comes up.
void hookProgram()
{
    static FirstFrame frame("MainWindow", measureProgram);
    qApp->installEventFilter(&frame);
}

QMap<QString, double> runRole(const QString &name, const QString &scene)
{
    QProcess child;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(kRoleVariable, name);
    env.insert("BONDARA_SIMULATE", scene);
    env.insert("QT_QPA_PLATFORM", env.value("QT_QPA_PLATFORM", "offscreen"));
    // The offscreen screen says 100 DPI, which would scale Bondara by 1.04
    // and draw its 2 x pictures, against a baseline drawn at 1 x.
    env.insert("QT_FONT_DPI", env.value("QT_FONT_DPI", "96"));
    env.insert(kSpawnVariable, QString::number(monotonicNs()));
    child.setProcessEnvironment(env);
    child.setProcessChannelMode(QProcess::SeparateChannels);
    child.start(QCoreApplication::applicationFilePath(), QStringList());
    child.waitForFinished(120000);
    QMap<QString, double> values;
    for (const QByteArray &line : child.readAllStandardOutput().split('\n')) {
        const QList<QByteArray> parts = line.split(' ');
        if (parts.size() == 2)
            values.insert(QString::fromLatin1(parts[0]), parts[1].toDouble());
    }
    // A run that measured nothing must not pass for one that measured zero.
    if (values.isEmpty()) {
        std::fprintf(stderr, "bench_window: the %s run reported nothing (exit %d): %s\n", qPrintable(name),
                     child.exitCode(), child.readAllStandardError().right(300).constData());
        std::exit(1);
    }
    return values;
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

// Every picture the window can show, decoded from the bytes embedded in the program
// and from the same pixels written by QImage::save, in the same run.
void pictureDecoding()
{
    QVector<QByteArray> embedded, qtWritten;
    for (QDirIterator it(":/newImage"); it.hasNext();) {
        QFile file(it.next());
        if (!file.open(QIODevice::ReadOnly))
            continue;
        embedded << file.readAll();
        qtWritten.append(QByteArray());
        QBuffer buffer(&qtWritten.last());
        buffer.open(QIODevice::WriteOnly);
        QImage::fromData(embedded.last()).save(&buffer, "PNG");
    }
    auto decodeAll = [](const QVector<QByteArray> &pictures) {
        return benchsupport::medianSeconds(9, [&] {
            for (const QByteArray &bytes : pictures) {
                if (QImage::fromData(bytes).isNull())
                    std::abort();
            }
        });
    };
    const double ours = decodeAll(embedded);
    const double theirs = decodeAll(qtWritten);
    qint64 oursBytes = 0, theirsBytes = 0;
    for (int i = 0; i < embedded.size(); ++i) {
        oursBytes += embedded[i].size();
        theirsBytes += qtWritten[i].size();
    }
    std::printf("%-44s %12s %12s %8s\n", "pictures (all embedded)", "embedded", "QImage::save", "ratio");
    std::printf("%-44s %12.1f %12.1f %8.2f\n", "decoding all, ms (median of 9)", ours * 1e3, theirs * 1e3, ours / theirs);
    std::printf("%-44s %12lld %12lld %8.2f\n\n", "bytes", oursBytes, theirsBytes, double(oursBytes) / theirsBytes);
}

int drive(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    pictureDecoding();
    const QString scene = QStringLiteral(BONDARA_SOURCE_DIR "/tools/scenes/receiver.json");
    const int rounds = 15;
    std::vector<double> program, minimal, programRss, minimalRss;
    for (int i = 0; i < rounds; ++i) {
        const QMap<QString, double> p = runRole("start", scene);
        const QMap<QString, double> m = runRole("minimal", scene);
        program.push_back(p.value("start_ms"));
        minimal.push_back(m.value("start_ms"));
        programRss.push_back(p.value("rss_kib"));
        minimalRss.push_back(m.value("rss_kib"));
    }
    std::vector<double> coldSlot, coldPaint, quickSlot, quickPaint, idleSlot, idlePaint, longestTurn, idleRss;
    for (int i = 0; i < 9; ++i) {
        const QMap<QString, double> cold = runRole("page_cold", scene);
        coldSlot.push_back(cold.value("page_slot_ms"));
        coldPaint.push_back(cold.value("page_paint_ms"));
        const QMap<QString, double> quick = runRole("page_quick", scene);
        quickSlot.push_back(quick.value("page_slot_ms"));
        quickPaint.push_back(quick.value("page_paint_ms"));
        const QMap<QString, double> idle = runRole("page_idle", scene);
        idleSlot.push_back(idle.value("page_slot_ms"));
        idlePaint.push_back(idle.value("page_paint_ms"));
        longestTurn.push_back(idle.value("longest_turn_ms"));
        idleRss.push_back(idle.value("rss_idle_kib"));
    }
    const QMap<QString, double> full = runRole("full", scene);

    std::printf("%-44s %12s %12s %8s\n", "window (simulated receiver)", "Bondara", "minimal", "ratio");
    std::printf("%-44s %12.1f %12.1f %8.2f\n", "start to first painted frame, ms (median)", median(program),
                median(minimal), median(program) / median(minimal));
    std::printf("%-44s %12.0f %12.0f %8.2f\n", "resident memory after start, KiB", median(programRss),
                median(minimalRss), median(programRss) / median(minimalRss));
    std::printf("%-44s %12.0f %12.0f %8.2f\n", "resident memory 1 s after start, KiB", median(idleRss),
                median(minimalRss), median(idleRss) / median(minimalRss));
    std::printf("%-44s %12s %12s\n", "first opening of the mouse page (median of 9)", "click, ms", "paint, ms");
    std::printf("%-44s %12.1f %12.1f\n", "  right at the first frame", median(coldSlot), median(coldPaint));
    std::printf("%-44s %12.1f %12.1f\n", "  250 ms after the first frame", median(quickSlot), median(quickPaint));
    std::printf("%-44s %12.1f %12.1f\n", "  1 s after the first frame", median(idleSlot), median(idlePaint));
    std::printf("%-44s %12.1f\n", "longest event-loop stall in that second, ms", median(longestTurn));
    std::printf("%-44s %12.1f\n", "hot-plug event to repainted row, ms", full.value("hotplug_ms"));
    std::printf("%-44s %12.2f\n", "CPU idle on the home page, % of a core", full.value("idle_cpu_percent"));
    std::printf("%-44s %12.2f\n", "CPU with the working icon turning, %", full.value("working_cpu_percent"));
    return 0;
}

} // namespace

int main(int argc, char *argv[])
{
    const QString r = role();
    if (r.isEmpty())
        return drive(argc, argv);
    if (r == "minimal")
        return runMinimal(argc, argv);
    qAddPreRoutine(hookProgram);
    return runBondara(argc, argv);
}
