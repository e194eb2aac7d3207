// The terminal a command-line program runs in: whether its error output is
// a terminal, and the interruptions a user sends it.
#pragma once

namespace tavrin::fs {

// True when standard error is a terminal (a console on Windows), not a
// file or a pipe.
bool StderrIsTerminal();

// From now on the first interruption (Ctrl-C or SIGTERM; on Windows Ctrl-C,
// Ctrl-Break or the console closing) only makes Interrupted() true; a
// second one ends the process as the system ends it. Safe to call more
// than once.
void CatchInterruptions();
bool Interrupted();

}  // namespace tavrin::fs
