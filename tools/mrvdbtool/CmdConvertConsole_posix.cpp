// Console services, POSIX half: isatty; SIGINT, SIGTERM and SIGHUP counted through sigaction
// (a closed SSH session, `timeout` or a service manager ends a run the way Ctrl+C does: it is
// cancelled and cleaned up); SIGPIPE ignored so that a closed output pipe is a write error.
// A pending question polls, so it gives up on the next interrupt whatever thread receives it.
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
bool StderrIsTerminal() { return ::isatty(STDERR_FILENO) == 1; }

void IgnoreBrokenPipe() { ::signal(SIGPIPE, SIG_IGN); }

void InstallInterruptHandler() {
  struct sigaction sa {};
  sa.sa_handler = OnInterrupt;
  sigemptyset(&sa.sa_mask);
  // Restarted system calls keep the worker's file and database work free of stray EINTRs.
  sa.sa_flags = SA_RESTART;
  for (const int signal : {SIGINT, SIGTERM, SIGHUP}) ::sigaction(signal, &sa, nullptr);
}

void SignalRunEnded() {}

int InterruptCount() { return g_interrupts.load(); }

bool ReadAnswerLine(std::string& line) {
  line.clear();
  const int interruptsBefore = InterruptCount();
  char buf[256];
  for (;;) {
    // Wait in short steps so that Ctrl+C, whichever thread it reaches, ends the question.
    struct pollfd p {
      STDIN_FILENO, POLLIN, 0
    };
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
