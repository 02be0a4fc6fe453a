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
#include <memory>
#include <optional>

namespace cli {

// Pairs through the same worker, on its own thread, as the window does.
int pairCommand(const QStringList &args)
{
    std::optional<PairKind> asked;
    bool json = false;
    QString config = ConfigController::configFilePath();
    QString chosen;
    for (int i = 0; i < args.size(); ++i) {
        if (args.at(i) == QLatin1String("--json"))
            json = true;
        else if (args.at(i) == QLatin1String("--receiver") && i + 1 < args.size() && chosen.isEmpty())
            chosen = args.at(++i);
        else if (PairKind kind = PairKind::Mouse; !asked && pairKindFromWord(args.at(i), &kind))
            asked = kind;
        else if (args.at(i) == QLatin1String("--config") && i + 1 < args.size())
            config = args.at(++i);
        else
            return fail(ExitBadInput, QStringLiteral("pair: unexpected argument \"%1\"").arg(args.at(i)));
    }
    if (!asked)
        return fail(ExitBadInput, QStringLiteral("pair: say what to pair: mouse or keyboard"));
    const PairKind type = *asked;

    ConfigController catalogue;
    if (!catalogue.loadConfig(config))
        return fail(ExitBadInput, catalogueProblem(config, catalogue));
    printCatalogueWarnings(config, catalogue);
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
    const Receiver receiver = candidates.first();

    // A receiver closed to this user is paired by the pairing service, when the system has it.
    auto *worker = new MouseCommunityBT;
    QString reason;
    std::unique_ptr<PairService> service;
    if (!worker->handOverReceiver(receiver, &reason)) {
        delete worker;
        worker = nullptr;
        QString missing;
        if (PairService::reach(&missing) != PairService::Reach::Offered)
            // A matter of the machine, not a failed pairing.
            return fail(ExitBadInput, QStringLiteral("cannot open the receiver %1: %2; and %3")
                                          .arg(plain(receiver.label()), plain(reason), missing));
        service = std::make_unique<PairService>();
    }
    QThread *thread = nullptr;
    if (worker) {
        thread = new QThread;
        worker->moveToThread(thread);
        QObject::connect(thread, &QThread::finished, worker, &QObject::deleteLater);
        QObject::connect(thread, &QThread::finished, thread, &QObject::deleteLater);
    }
    // The request crosses to the worker's thread as a queued call, wired before the thread runs.
    QTimer request;
    request.setSingleShot(true);
    if (worker)
        QObject::connect(&request, &QTimer::timeout, worker, [worker, type] { worker->startPairing(type); });
    else
        QObject::connect(&request, &QTimer::timeout, service.get(), [&] { service->start(receiver, type); });

    const QString kind = pairKindWord(type);
    if (json) {
        emitEvent(QStringLiteral("begin"), QJsonObject{{"kind", kind}, {"receiver", receiverObject(receiver)}});
    } else {
        out() << "Receiver: " << plain(receiver.label()) << " (pid 0x" << QString::number(receiver.entry.pid, 16)
              << ") at " << plain(receiver.path()) << "\n";
        if (service)
            out() << "This user cannot open it: the pairing service pairs it, if polkit allows.\n";
        out() << "Put the " << kind << " into pairing mode now; waiting for it for up to 30 seconds.\n";
        out().flush();
    }

    const bool terminal = !json && stdoutIsTerminal();
    int seconds = 0;
    QTimer progress;
    QObject::connect(&progress, &QTimer::timeout, [&] {
        ++seconds;
        if (terminal)
            out() << "\r" << QString(qMin(seconds, 30), QLatin1Char('#')).leftJustified(30, QLatin1Char('.'))
                  << ' ' << seconds << " s";
        else
            out() << "waiting " << seconds << " s\n";
        out().flush();
    });
    const auto showPoll = [](int attempt, const QString &status) {
        emitEvent(QStringLiteral("poll"), QJsonObject{{"attempt", attempt}, {"status", status}});
    };
    bool finished = false;
    if (json && worker)
        QObject::connect(worker, &MouseCommunity::sigPollAttempt, &progress, showPoll);
    else if (json)
        QObject::connect(service.get(), &PairService::sigPollAttempt, &progress, showPoll);
    else if (worker)
        progress.start(1000);
    else
        // The wait begins once polkit has let the service start, after any password.
        QObject::connect(service.get(), &PairService::sigPollAttempt, &progress, [&] {
            if (!finished && !progress.isActive())
                progress.start(1000);
        });

    int code = ExitNotFound;
    int stopSignal = 0;
    const auto finish = [&](const PairOutcome &outcome) {
        finished = true;
        progress.stop();
        if (json) {
            QJsonObject fields{{"ok", outcome.ok()}, {"reason", PairOutcome::key(outcome.reason)},
                               {"message", outcome.describe()}};
            if (!outcome.detail.isEmpty())
                fields.insert(QStringLiteral("detail"), outcome.detail);
            emitEvent(QStringLiteral("result"), fields);
        } else {
            if (terminal && seconds > 0)
                out() << '\n';
            // The window's words; the detail may come from the device.
            out() << plain(outcome.describe()) << '\n';
            out().flush();
        }
        if (outcome.ok())
            code = ExitOk;
        else if (stopSignal != 0)
            code = 128 + stopSignal;
        else if (outcome.reason == PairOutcome::NoAnswer)
            code = ExitNotFound;
        else if (outcome.reason == PairOutcome::Busy || outcome.reason == PairOutcome::NotAuthorised)
            code = ExitBadInput;
        else
            code = ExitReceiverFailed;
        QCoreApplication::quit();
    };
    if (worker)
        QObject::connect(worker, &MouseCommunity::sigPairOutcome, &progress, finish);
    else
        QObject::connect(service.get(), &PairService::sigPairOutcome, &progress, finish);
    // Ctrl+C or a request to stop: the run ends at its next exchange with the
    // end command, so the receiver is not left open for pairing.
    QObject::connect(StopSignals::install(), &StopSignals::sigStop, &progress, [&](int number) {
        if (stopSignal == 0) {
            if (worker)
                worker->abortRun(PairOutcome::Stopped);
            else
                service->stop();
        }
        stopSignal = number;
    });
    // polkit may want a password; a desktop's agent asks for it, or else one on this terminal.
    const long agent = service ? startTextAgent() : 0;
    if (thread)
        thread->start();
    request.start(0);
    QCoreApplication::exec();

    stopTextAgent(agent);
    if (thread) {
        thread->quit();
        thread->wait();
    }
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
