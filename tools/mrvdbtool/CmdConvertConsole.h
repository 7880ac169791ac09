#pragma once
// Console services of the convert and test-connection subcommands: terminal detection, the
// interrupt key (Ctrl+C) counted into a flag that the main thread polls, and reading an answer
// line from the terminal.

#include <string>

namespace mrvtool {

bool StdinIsTerminal();
bool StdoutIsTerminal();

// Installs the interrupt handler; afterwards InterruptCount() counts Ctrl+C presses instead of
// ending the process.
void InstallInterruptHandler();
int InterruptCount();

// Reads one line from standard input; false at end of input or when interrupted.
bool ReadAnswerLine(std::string& line);

}  // namespace mrvtool
