// Console services, POSIX half: isatty, SIGINT through sigaction (without restarting reads, so
// that a pending question gives up when Ctrl+C is pressed).
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>

#include "CmdConvertConsole.h"

namespace mrvtool {

namespace {
std::atomic<int> g_interrupts{0};
extern "C" void OnInterrupt(int) { g_interrupts.fetch_add(1); }
}  // namespace

bool StdinIsTerminal() { return ::isatty(STDIN_FILENO) == 1; }
bool StdoutIsTerminal() { return ::isatty(STDOUT_FILENO) == 1; }

void InstallInterruptHandler() {
  struct sigaction sa {};
  sa.sa_handler = OnInterrupt;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = 0;
  ::sigaction(SIGINT, &sa, nullptr);
}

int InterruptCount() { return g_interrupts.load(); }

bool ReadAnswerLine(std::string& line) {
  line.clear();
  const int interruptsBefore = InterruptCount();
  char buf[256];
  for (;;) {
    // Wait in short steps so that Ctrl+C, whichever thread it reaches, ends the question.
    struct pollfd p {STDIN_FILENO, POLLIN, 0};
    int r = ::poll(&p, 1, 100);
    if (InterruptCount() != interruptsBefore) return false;
    if (r == 0 || (r < 0 && errno == EINTR)) continue;
    if (r < 0) return false;
    ssize_t n = ::read(STDIN_FILENO, buf, sizeof buf);
    if (n <= 0) return false;
    for (ssize_t i = 0; i < n; ++i) {
      if (buf[i] == '\n') return true;
      line += buf[i];
    }
  }
}

}  // namespace mrvtool
