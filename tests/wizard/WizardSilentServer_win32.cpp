// A TCP port that takes connections into its backlog and never answers: a database client that
// connects to it waits until the port is closed. The driver uses it to keep a connection test
// running for as long as it needs.
#include <winsock2.h>

#include "WizardSilentServer_win32.h"

namespace wizdrv {

TSilentServer::TSilentServer() {
  WSADATA data;
  if (WSAStartup(MAKEWORD(2, 2), &data) != 0) return;
  started_ = true;
  const SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (s == INVALID_SOCKET) return;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = 0;  // any free port
  int length = sizeof address;
  if (bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || listen(s, 4) != 0 ||
      getsockname(s, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    closesocket(s);
    return;
  }
  socket_ = static_cast<std::uintptr_t>(s);
  port_ = ntohs(address.sin_port);
}

TSilentServer::~TSilentServer() {
  Close();
  if (started_) WSACleanup();
}

void TSilentServer::Close() {
  if (port_ == 0) return;
  closesocket(static_cast<SOCKET>(socket_));
  port_ = 0;
}

}  // namespace wizdrv
