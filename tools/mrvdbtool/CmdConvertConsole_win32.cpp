// Console services, Windows half: console detection, a console control handler for Ctrl+C and
// Ctrl+Break (it runs on its own thread and only counts), answers read from the console.
#include <windows.h>
#include <io.h>

#include <atomic>
#include <cstdio>

#include "CmdConvertConsole.h"

namespace mrvtool {

namespace {
std::atomic<int> g_interrupts{0};
BOOL WINAPI OnConsoleCtrl(DWORD type) {
  if (type == CTRL_C_EVENT || type == CTRL_BREAK_EVENT) {
    g_interrupts.fetch_add(1);
    return TRUE;
  }
  return FALSE;
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

void InstallInterruptHandler() { SetConsoleCtrlHandler(OnConsoleCtrl, TRUE); }

int InterruptCount() { return g_interrupts.load(); }

bool ReadAnswerLine(std::string& line) {
  line.clear();
  char buf[256];
  if (!std::fgets(buf, sizeof buf, stdin)) return false;
  line = buf;
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
  return true;
}

}  // namespace mrvtool
