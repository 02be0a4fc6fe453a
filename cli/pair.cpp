// SPDX-License-Identifier: MIT
// pair, and record, which keeps what a pairing saw as a scene.

#include "base/stopsignals.h"
#include "cli/commands.h"
#include "cli/output.h"
#include "cli/terminal.h"
#include "config/configcontroller.h"
#include "pairing/mousecommunitybt.h"
#include "pairing/pairservice.h"
#include "sim/krecorder.h"

#include <QCoreApplication>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>
#include <QThread>
#include <QTimer>

#include <cstdio>
#include <functional>
#include <memory>
#include <optional>

namespace cli {

namespace {

struct PairOptions {
    PairKind kind = PairKind::Mouse;
    bool json = false;
    QString config = ConfigController::configFilePath();
    QString receiver; // the path asked for with --receiver, or empty
};

// Anything but the options ends the command with the status returned; 0 when all were read.
int readPairOptions(const QStringList &args, PairOptions &options)
{
    std::optional<PairKind> asked;
    for (int i = 0; i < args.size(); ++i) {
        if (args.at(i) == QLatin1String("--json"))
            options.json = true;
        else if (args.at(i) == QLatin1String("--receiver") && i + 1 < args.size() && options.receiver.isEmpty())
            options.receiver = args.at(++i);
        else if (PairKind kind = PairKind::Mouse; !asked && pairKindFromWord(args.at(i), &kind))
            asked = kind;
        else if (args.at(i) == QLatin1String("--config") && i + 1 < args.size())
            options.config = args.at(++i);
        else
            return fail(ExitBadInput, QStringLiteral("pair: unexpected argument \"%1\"").arg(args.at(i)));
    }
    if (!asked)
        return fail(ExitBadInput, QStringLiteral("pair: say what to pair: mouse or keyboard"));
    options.kind = *asked;
    return ExitOk;
}

// The one receiver the options leave, or the status of a command that ends here.
int findReceiver(const PairOptions &options, Receiver &receiver)
{
    ConfigController catalogue;
    if (!catalogue.loadConfig(options.config))
        return fail(ExitBadInput, catalogueProblem(options.config, catalogue));
    printCatalogueWarnings(options.config, catalogue);
    const PairKind type = options.kind;
    const QString &chosen = options.receiver;
    const QVector<Receiver> receivers = catalogue.scanReceivers();
    QVector<Receiver> candidates;
    for (const Receiver &present : receivers) {
        if (chosen.isEmpty() ? present.entry.pairs(type) : present.path() == chosen)
            candidates.append(present);
    }
    if (!chosen.isEmpty() && candidates.isEmpty())
        return fail(ExitBadInput, QStringLiteral("no supported receiver is plugged in at %1").arg(plain(chosen)));
    if (receivers.isEmpty())
        return fail(ExitBadInput, QStringLiteral("no supported receiver is plugged in"));
    if (candidates.isEmpty() || !candidates.first().entry.pairs(type)) {
        const Receiver &named = candidates.isEmpty() ? receivers.first() : candidates.first();
        return fail(ExitBadInput, QStringLiteral("%1 does not pair a %2").arg(plain(named.label()), pairKindWord(type)));
    }
    if (candidates.size() > 1) {
        QString list;
        for (const Receiver &candidate : candidates)
            list += QStringLiteral("\n  %1  %2").arg(plain(candidate.label()), plain(candidate.path()));
        return fail(ExitBadInput, QStringLiteral("%1 receivers can pair a %2; choose one with --receiver PATH:%3")
                                      .arg(candidates.size())
                                      .arg(pairKindWord(type), list));
    }
    receiver = candidates.first();
    return ExitOk;
}

// One pairing, by the worker or by the pairing service; the command sees no difference.
class PairRun
{
public:
    struct Watch {
        std::function<void(int attempt, const QString &status)> poll;
        // The wait for the device begins: for the service only once polkit has let it start.
        std::function<void()> waiting;
        std::function<void(const PairOutcome &outcome)> outcome;
    };
    virtual ~PairRun() = default;
    // What the user is told of the way the run goes, if anything.
    virtual QString note() const { return {}; }
    // Before begin; called on this thread, for as long as `context` lives.
    virtual void watch(QObject *context, const Watch &watch) = 0;
    virtual void begin() = 0;
    // The run ends at its next exchange with the end command, so the receiver is not left open for pairing.
    virtual void stop() = 0;
};

// Through the same worker, on its own thread, as the window pairs.
class WorkerRun : public PairRun
{
public:
    WorkerRun(MouseCommunityBT *worker, PairKind kind) : mWorker(worker), mKind(kind), mThread(new QThread)
    {
        mWorker->moveToThread(mThread);
        QObject::connect(mThread, &QThread::finished, mWorker, &QObject::deleteLater);
        QObject::connect(mThread, &QThread::finished, mThread, &QObject::deleteLater);
    }
    ~WorkerRun() override
    {
        mThread->quit();
        mThread->wait();
    }
    void watch(QObject *context, const Watch &watch) override
    {
        QObject::connect(mWorker, &MouseCommunity::sigPollAttempt, context, watch.poll);
        QObject::connect(mWorker, &MouseCommunity::sigPairOutcome, context, watch.outcome);
        mWaiting = watch.waiting;
    }
    void begin() override
    {
        // The run is the thread's first work, wired before it starts: nothing is posted to a
        // thread whose event loop is still being made.
        QObject::connect(mThread, &QThread::started, mWorker,
                         [worker = mWorker, kind = mKind] { worker->startPairing(kind); });
        mThread->start();
        mWaiting();
    }
    void stop() override { mWorker->abortRun(PairOutcome::Stopped); }

private:
    MouseCommunityBT *mWorker;
    PairKind mKind;
    QThread *mThread;
    std::function<void()> mWaiting;
};

class ServiceRun : public PairRun
{
public:
    ServiceRun(const Receiver &receiver, PairKind kind) : mReceiver(receiver), mKind(kind) {}
    ~ServiceRun() override { stopTextAgent(mAgent); }
    QString note() const override
    {
        return QStringLiteral("This user cannot open it: the pairing service pairs it, if polkit allows.\n");
    }
    void watch(QObject *context, const Watch &watch) override
    {
        QObject::connect(&mService, &PairService::sigPollAttempt, context, [watch](int attempt, const QString &status) {
            watch.poll(attempt, status);
            watch.waiting();
        });
        QObject::connect(&mService, &PairService::sigPairOutcome, context, watch.outcome);
    }
    void begin() override
    {
        // polkit may want a password; a desktop's agent asks for it, or else one on this terminal.
        mAgent = startTextAgent();
        mService.start(mReceiver, mKind);
    }
    void stop() override { mService.stop(); }

private:
    PairService mService;
    const Receiver mReceiver;
    const PairKind mKind;
    long mAgent = 0;
};

// A receiver closed to this user is paired by the pairing service, when the system has it.
// Null, with the status already told, when neither can.
std::unique_ptr<PairRun> openRun(const Receiver &receiver, PairKind kind, int &code)
{
    auto *worker = new MouseCommunityBT;
    QString reason;
    if (worker->handOverReceiver(receiver, &reason))
        return std::make_unique<WorkerRun>(worker, kind);
    delete worker;
    QString missing;
    if (PairService::reach(&missing) == PairService::Reach::Offered)
        return std::make_unique<ServiceRun>(receiver, kind);
    // A matter of the machine, not a failed pairing.
    code = fail(ExitBadInput, QStringLiteral("cannot open the receiver %1: %2; and %3")
                                  .arg(plain(receiver.label()), plain(reason), missing));
    return nullptr;
}

void printBegin(const PairOptions &options, const Receiver &receiver, const PairRun &run)
{
    const QString kind = pairKindWord(options.kind);
    if (options.json) {
        emitEvent(QStringLiteral("begin"), QJsonObject{{"kind", kind}, {"receiver", receiverObject(receiver)}});
        return;
    }
    out() << "Receiver: " << plain(receiver.label()) << " (pid 0x" << QString::number(receiver.entry.pid, 16)
          << ") at " << plain(receiver.path()) << "\n";
    out() << run.note();
    out() << "Put the " << kind << " into pairing mode now; waiting for it for up to 30 seconds.\n";
    out().flush();
}

// On a terminal a bar drawn in place; elsewhere a line a second.
void printWaited(bool terminal, int seconds)
{
    if (terminal)
        out() << "\r" << QString(qMin(seconds, 30), QLatin1Char('#')).leftJustified(30, QLatin1Char('.')) << ' '
              << seconds << " s";
    else
        out() << "waiting " << seconds << " s\n";
    out().flush();
}

void printResult(bool json, bool newLine, const PairOutcome &outcome)
{
    if (json) {
        QJsonObject fields{{"ok", outcome.ok()}, {"reason", PairOutcome::key(outcome.reason)},
                           {"message", outcome.describe()}};
        if (!outcome.detail.isEmpty())
            fields.insert(QStringLiteral("detail"), outcome.detail);
        emitEvent(QStringLiteral("result"), fields);
        return;
    }
    if (newLine)
        out() << '\n';
    // The window's words; the detail may come from the device.
    out() << plain(outcome.describe()) << '\n';
    out().flush();
}

int exitStatus(const PairOutcome &outcome, int stopSignal)
{
    if (outcome.ok())
        return ExitOk;
    if (stopSignal != 0)
        return 128 + stopSignal;
    if (outcome.reason == PairOutcome::NoAnswer)
        return ExitNotFound;
    if (outcome.reason == PairOutcome::Busy || outcome.reason == PairOutcome::NotAuthorised)
        return ExitBadInput;
    return ExitReceiverFailed;
}

} // namespace

int pairCommand(const QStringList &args)
{
    PairOptions options;
    Receiver receiver;
    int code = readPairOptions(args, options);
    if (code == ExitOk)
        code = findReceiver(options, receiver);
    if (code != ExitOk)
        return code;
    const std::unique_ptr<PairRun> run = openRun(receiver, options.kind, code);
    if (!run)
        return code;
    printBegin(options, receiver, *run);

    const bool terminal = !options.json && stdoutIsTerminal();
    int seconds = 0;
    QTimer progress;
    QObject::connect(&progress, &QTimer::timeout, [&] { printWaited(terminal, ++seconds); });
    bool finished = false;
    int stopSignal = 0;
    PairRun::Watch watch;
    watch.poll = [json = options.json](int attempt, const QString &status) {
        if (json)
            emitEvent(QStringLiteral("poll"), QJsonObject{{"attempt", attempt}, {"status", status}});
    };
    watch.waiting = [&] {
        if (!options.json && !finished && !progress.isActive())
            progress.start(1000);
    };
    watch.outcome = [&](const PairOutcome &outcome) {
        finished = true;
        progress.stop();
        printResult(options.json, terminal && seconds > 0, outcome);
        code = exitStatus(outcome, stopSignal);
        QCoreApplication::quit();
    };
    run->watch(&progress, watch);
    // Ctrl+C or a request to stop.
    QObject::connect(StopSignals::install(), &StopSignals::sigStop, &progress, [&](int number) {
        if (stopSignal == 0)
            run->stop();
        stopSignal = number;
    });
    // Begun from the event loop, which must be running for its outcome to end it.
    QTimer::singleShot(0, &progress, [&] { run->begin(); });
    code = ExitNotFound;
    QCoreApplication::exec();
    return code;
}

// A real pairing, kept as a scene that BONDARA_SIMULATE replays: the
// receiver's interfaces and every exchange, without product strings.
int recordCommand(const QStringList &args)
{
    if (args.size() < 2 || args.at(1) != QLatin1String("pair"))
        return fail(ExitBadInput, QStringLiteral("record: usage: record FILE pair mouse|keyboard [--receiver PATH] [--config FILE]"));
    const QString file = args.at(0);
    const QStringList pairArgs = args.mid(2);
    if (pairArgs.contains(QLatin1String("--json")))
        return fail(ExitBadInput, QStringLiteral("record: --json is for pair itself"));
    QString config = ConfigController::configFilePath();
    const int at = pairArgs.indexOf(QStringLiteral("--config"));
    if (at >= 0 && at + 1 < pairArgs.size())
        config = pairArgs.at(at + 1);

    auto recorder = new KHID::KRecordPlatform(KHID::takePlatform());
    KHID::installPlatform(std::unique_ptr<KHID::KHidPlatform>(recorder));
    const int code = pairCommand(pairArgs);

    // Without a receiver opened, the interfaces of the catalogue's vendors show what was there.
    QVector<quint16> vendors;
    ConfigController catalogue;
    if (catalogue.loadConfig(config)) {
        for (const DeviceDetail &entry : catalogue.devices())
            vendors.append(static_cast<quint16>(entry.vid));
    }
    QSaveFile saved(file);
    if (!saved.open(QIODevice::WriteOnly)
        || saved.write(QJsonDocument(recorder->scene(vendors)).toJson(QJsonDocument::Indented)) < 0
        || !saved.commit())
        return fail(ExitBadInput, QStringLiteral("record: cannot write %1: %2").arg(file, saved.errorString()));
    std::fprintf(stderr, "bondara-cli: recorded %d exchanges in %s\n", recorder->exchangeCount(), qPrintable(file));
    return code;
}

} // namespace cli
