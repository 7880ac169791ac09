#pragma once
// A listening loopback port that never answers (see WizardSilentServer_win32.cpp).
#include <cstdint>

namespace wizdrv {

class TSilentServer {
 public:
  TSilentServer();
  ~TSilentServer();
  TSilentServer(const TSilentServer&) = delete;
  TSilentServer& operator=(const TSilentServer&) = delete;
  int Port() const { return port_; }  // 0 when the port could not be opened
  // Stops listening: waiting clients see their connection refused or reset.
  void Close();

 private:
  bool started_ = false;
  std::uintptr_t socket_ = 0;
  int port_ = 0;
};

}  // namespace wizdrv
