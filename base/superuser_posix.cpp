// SPDX-License-Identifier: MIT
#include "base/superuser.h"

#include <unistd.h>

bool runsAsSuperuser()
{
    return geteuid() == 0;
}
