// SPDX-License-Identifier: MIT
#pragma once

// The program: one copy per user, the language option, the window, the event loop.
int runBondara(int argc, char *argv[]);
// The signal that asked the program to stop (SIGTERM, SIGINT, SIGHUP), or 0.
int stopSignalReceived();
