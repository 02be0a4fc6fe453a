// SPDX-License-Identifier: MIT
#include "base/stopsignals.h"

#include <QMetaObject>

#include <csignal>
#include <windows.h>

namespace {

StopSignals *gInstalled = nullptr;

// Called on a thread of the system's: the signal is queued to the object's own.
BOOL WINAPI onConsoleEvent(DWORD event)
{
    if (!gInstalled)
        return FALSE;
    const int number = event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT ? SIGINT : SIGTERM;
    QMetaObject::invokeMethod(gInstalled, [number] { emit gInstalled->sigStop(number); }, Qt::QueuedConnection);
    return TRUE;
}

} // namespace

StopSignals::StopSignals(QObject *parent)
    : QObject(parent)
{
}

StopSignals *StopSignals::install()
{
    if (gInstalled)
        return gInstalled;
    gInstalled = new StopSignals;
    SetConsoleCtrlHandler(onConsoleEvent, TRUE);
    return gInstalled;
}
