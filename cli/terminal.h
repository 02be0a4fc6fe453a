// SPDX-License-Identifier: MIT
#pragma once

// Whether standard output is a terminal (progress drawn in place) or a file or pipe
// (one line per step). One definition per system: terminal_posix.cpp, terminal_win.cpp.
bool stdoutIsTerminal();
// Standard input as bytes: a descriptor or scene given as "-" must not have
// its line ends translated or be cut at a ^Z byte.
void readStdinAsBytes();
// On a terminal, polkit's text agent (pkttyagent) for this process, so that a
// password the pairing service's polkit check asks for can be given here; in a
// login session only where the desktop has no agent of its own. Returns once
// the agent is registered (or gave up): its process id, 0 when standard input
// is no terminal or the agent could not start. stopTextAgent ends it.
long startTextAgent();
void stopTextAgent(long agent);
