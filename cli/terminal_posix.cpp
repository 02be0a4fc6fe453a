// SPDX-License-Identifier: MIT
#include "cli/terminal.h"

#include <unistd.h>

bool stdoutIsTerminal()
{
    return isatty(STDOUT_FILENO) != 0;
}

void readStdinAsBytes()
{
    // Bytes already.
}
