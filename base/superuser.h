// SPDX-License-Identifier: MIT
#pragma once

// Whether this program runs with the administrator's rights (root); the
// simulated machine keeps a node that is root's alone from anyone else.
bool runsAsSuperuser();
