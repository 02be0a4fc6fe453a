// SPDX-License-Identifier: MIT
#pragma once

// Whether standard output is a terminal (progress drawn in place) or a file or pipe
// (one line per step). One definition per system: terminal_posix.cpp, terminal_win.cpp.
bool stdoutIsTerminal();
// Standard input as bytes: a descriptor or scene given as "-" must not have
// its line ends translated or be cut at a ^Z byte.
void readStdinAsBytes();
