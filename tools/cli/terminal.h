// SPDX-License-Identifier: MIT
#pragma once

// Whether standard output is a terminal (progress drawn in place) or a file or pipe
// (one line per step). One definition per system: terminal_posix.cpp, terminal_win.cpp.
bool stdoutIsTerminal();
