// SPDX-License-Identifier: MIT
// bondara-pairingd: the pairing service, started by the system bus, on the system's receivers.

#include "khid/kplatform.h"
#include "service/servicemain.h"

int main(int argc, char *argv[])
{
    ServicePlatform system;
    system.install = [](QString *) {
        KHID::installPlatform(KHID::makeNativePlatform());
        return true;
    };
    return runPairingService(argc, argv, system);
}
