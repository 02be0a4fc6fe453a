// SPDX-License-Identifier: MIT
#include "cli/terminal.h"

#include <cstdio>
#include <fcntl.h>
#include <io.h>

bool stdoutIsTerminal()
{
    return _isatty(_fileno(stdout)) != 0;
}

void readStdinAsBytes()
{
    _setmode(_fileno(stdin), _O_BINARY);
}

long startTextAgent()
{
    return 0;
}

void stopTextAgent(long)
{
}
