// SPDX-License-Identifier: MIT
#pragma once

#include <QObject>

// The requests to stop that reach a program from outside (SIGINT, SIGTERM,
// SIGHUP; Ctrl+C on a Windows console), turned into a Qt signal on the
// thread that installed them, where anything may be done about them.
// One definition per system: stopsignals_posix.cpp, stopsignals_win.cpp.
class StopSignals : public QObject
{
    Q_OBJECT

public:
    // Installs the handlers for the program's lifetime; the object lives as long.
    static StopSignals *install();

signals:
    // The signal's number (SIGINT, SIGTERM or SIGHUP).
    void sigStop(int signalNumber);

private:
    explicit StopSignals(QObject *parent = nullptr);
};
