// SPDX-License-Identifier: MIT
#include "app/startup.h"

#include <csignal>

int main(int argc, char *argv[])
{
    const int code = runBondara(argc, argv);
    // Stopped by a signal: ended by it once everything is let go, as the caller expects.
    if (const int number = stopSignalReceived()) {
        std::signal(number, SIG_DFL);
        std::raise(number);
    }
    return code;
}
