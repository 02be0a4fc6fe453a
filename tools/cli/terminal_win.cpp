// SPDX-License-Identifier: MIT
#include "terminal.h"

#include <cstdio>
#include <io.h>

bool stdoutIsTerminal()
{
    return _isatty(_fileno(stdout)) != 0;
}
