// SPDX-License-Identifier: MIT
#include "base/superuser.h"

// Windows has no node owned by one user alone: access is the same for every
// program of the session.
bool runsAsSuperuser()
{
    return false;
}
