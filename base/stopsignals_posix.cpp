// SPDX-License-Identifier: MIT
#include "base/stopsignals.h"

#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

int gPipe[2] = {-1, -1};

// Only what is safe in a handler: one write of the signal's number.
void onSignal(int number)
{
    const int saved = errno;
    const char byte = static_cast<char>(number);
    [[maybe_unused]] const ssize_t written = ::write(gPipe[1], &byte, 1);
    errno = saved;
}

} // namespace

StopSignals::StopSignals(QObject *parent)
    : QObject(parent)
{
}

StopSignals *StopSignals::install()
{
    static StopSignals *installed = nullptr;
    if (installed)
        return installed;
    installed = new StopSignals;
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, gPipe) != 0)
        return installed;
    auto *notifier = new QSocketNotifier(gPipe[0], QSocketNotifier::Read, installed);
    QObject::connect(notifier, &QSocketNotifier::activated, installed, [] {
        char byte = 0;
        while (::read(gPipe[0], &byte, 1) == 1)
            emit installed->sigStop(byte);
    });
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int number : {SIGINT, SIGTERM, SIGHUP})
        ::sigaction(number, &action, nullptr);
    return installed;
}
