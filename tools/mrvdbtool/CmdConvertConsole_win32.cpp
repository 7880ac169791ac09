// Console services, Windows half: console detection, answers read from the console, and a
// console control handler for Ctrl+C and Ctrl+Break (it runs on its own thread and only counts)
// and for closing the console, logging off and shutting down: those count as an interrupt too
// and then hold the handler until the run has cancelled and cleaned up, because the process ends
// as soon as the handler returns. The wait stays inside the time Windows grants a console
// process (about five seconds).
#include <windows.h>
#include <io.h>

#include <atomic>
#include <cstdio>

#include "CmdConvertConsole.h"

namespace mrvtool {

namespace {

constexpr DWORD kEndingWaitMs = 4500;

std::atomic<int> g_interrupts{0};
HANDLE g_runEnded = nullptr;  // manual-reset event, set by SignalRunEnded

BOOL WINAPI OnConsoleCtrl(DWORD type) {
  switch (type) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT: g_interrupts.fetch_add(1); return TRUE;
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
      g_interrupts.fetch_add(1);
      if (g_runEnded) WaitForSingleObject(g_runEnded, kEndingWaitMs);
      return TRUE;
    default: return FALSE;
  }
}

}  // namespace

// A console, not merely a character device: _isatty is also true for NUL, from which no
// answer can come.
static bool IsConsole(std::FILE* stream) {
  const HANDLE h = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)));
  DWORD mode = 0;
  return h != INVALID_HANDLE_VALUE && GetConsoleMode(h, &mode) != 0;
}

bool StdinIsTerminal() { return IsConsole(stdin); }
bool StdoutIsTerminal() { return IsConsole(stdout); }
bool StderrIsTerminal() { return IsConsole(stderr); }

void IgnoreBrokenPipe() {}

void InstallInterruptHandler() {
  if (!g_runEnded) g_runEnded = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  SetConsoleCtrlHandler(OnConsoleCtrl, TRUE);
}

int InterruptCount() { return g_interrupts.load(); }

void SignalRunEnded() {
  if (g_runEnded) SetEvent(g_runEnded);
}

bool ReadAnswerLine(std::string& line) {
  line.clear();
  char buf[256];
  if (!std::fgets(buf, sizeof buf, stdin)) return false;
  line = buf;
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
  return true;
}

}  // namespace mrvtool
