#pragma once
// Console services of the mrvdbtool subcommands: terminal detection, the ways a user or the
// system asks a run to end (Ctrl+C, and on POSIX SIGTERM and SIGHUP; on Windows Ctrl+Break and
// closing the console, logging off or shutting down) counted into a flag that the main thread
// polls, and reading an answer line from the terminal.

#include <string>

namespace mrvtool {

bool StdinIsTerminal();
bool StdoutIsTerminal();
bool StderrIsTerminal();

// Writes to a closed pipe fail with an error the command reports instead of ending the process
// (POSIX: SIGPIPE ignored; nothing to do on Windows). Called once at program start.
void IgnoreBrokenPipe();

// Installs the interrupt handler; afterwards InterruptCount() counts the requests to end
// instead of ending the process.
void InstallInterruptHandler();
int InterruptCount();

// Tells the interrupt handler that the run has ended and its clean-up is done. On Windows a
// console close, logoff or shutdown request waits for this (bounded by the time the system
// allows) before the process is ended; elsewhere it does nothing.
void SignalRunEnded();

// Reads one line from standard input; false at end of input or when interrupted.
bool ReadAnswerLine(std::string& line);

}  // namespace mrvtool
