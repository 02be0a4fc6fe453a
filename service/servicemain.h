// SPDX-License-Identifier: MIT
#pragma once

#include <QString>
#include <QStringList>

#include <functional>

// What sets one build of bondara-pairingd apart: where its receivers come
// from. The installed program takes the system's and no option beyond the
// common ones; the test build takes a simulated machine.
struct ServicePlatform {
    // Usage lines for this build's own options; empty for none.
    const char *usage = "";
    // Takes arguments[i] (and its value, moving i on) when it is one of this
    // build's options; false when it is not.
    std::function<bool(const QStringList &arguments, int &i)> takeOption;
    // Puts the receivers in place once the options are read; false with the reason.
    std::function<bool(QString *error)> install;
    // How long polkit may wait for a password; 0 for the service's own bound.
    int questionLimitMs = 0;
};

// The whole program: options, catalogue, bus, until idle or stopped.
int runPairingService(int argc, char *argv[], const ServicePlatform &platform);
