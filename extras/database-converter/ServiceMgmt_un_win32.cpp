// Service control through the Windows service control manager.

#include <windows.h>

#include "BaseText.h"
#include "BaseWide_win32.h"
#include "ServiceMgmt_un.h"

namespace mrv {

namespace {

// The system's text for an error code, without trailing line breaks, blanks and periods.
std::string SystemErrorText(DWORD code) {
  wchar_t* buffer = nullptr;
  const DWORD length = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, code, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
  std::size_t used = length;
  while (used > 0 && (buffer[used - 1] <= L' ' || buffer[used - 1] == L'.')) --used;
  std::string text = buffer ? base::Narrow(std::wstring_view(buffer, used)) : std::string();
  if (buffer) LocalFree(buffer);
  return text;
}

[[noreturn]] void RaiseSystemError(DWORD code) {
  throw EServiceSystemError(static_cast<int>(code), SystemErrorText(code));
}

[[noreturn]] void RaiseController(const char* fmt, const std::string& name, DWORD code) {
  const std::string text = SystemErrorText(code);
  if (name.empty())
    throw EServiceControllerException(base::Format(fmt, static_cast<int>(code), text.c_str()));
  throw EServiceControllerException(
      base::Format(fmt, name.c_str(), static_cast<int>(code), text.c_str()));
}

// Closes a manager or service handle when it goes out of scope.
class TScHandle {
 public:
  explicit TScHandle(SC_HANDLE handle = nullptr) : handle_(handle) {}
  ~TScHandle() {
    if (handle_) CloseServiceHandle(handle_);
  }
  TScHandle(const TScHandle&) = delete;
  TScHandle& operator=(const TScHandle&) = delete;
  SC_HANDLE get() const { return handle_; }
  SC_HANDLE release() {
    SC_HANDLE handle = handle_;
    handle_ = nullptr;
    return handle;
  }
  explicit operator bool() const { return handle_ != nullptr; }

 private:
  SC_HANDLE handle_;
};

SC_HANDLE OpenManager() {
  return OpenSCManagerW(nullptr, SERVICES_ACTIVE_DATABASEW, SC_MANAGER_CONNECT);
}

class TWinServiceHandle : public TServiceHandle {
 public:
  TWinServiceHandle(SC_HANDLE manager, SC_HANDLE service) : manager_(manager), service_(service) {}

  TServiceStatus QueryStatus() override {
    SERVICE_STATUS status{};
    if (!QueryServiceStatus(service_.get(), &status)) RaiseSystemError(GetLastError());
    return {status.dwCurrentState, status.dwCheckPoint, status.dwWaitHint};
  }

  void RequestStop() override {
    SERVICE_STATUS status{};
    if (!ControlService(service_.get(), SERVICE_CONTROL_STOP, &status))
      RaiseSystemError(GetLastError());
  }

  void RequestStart(const std::vector<std::string>& arguments) override {
    std::vector<std::wstring> wide;
    for (const auto& argument : arguments) wide.push_back(base::Widen(argument));
    std::vector<LPCWSTR> pointers;
    for (const auto& argument : wide) pointers.push_back(argument.c_str());
    if (!StartServiceW(service_.get(), static_cast<DWORD>(pointers.size()),
                       pointers.empty() ? nullptr : pointers.data()))
      RaiseSystemError(GetLastError());
  }

  void Close() override {
    const SC_HANDLE service = service_.release();
    const BOOL closed = service ? CloseServiceHandle(service) : TRUE;
    const DWORD error = GetLastError();
    CloseServiceHandle(manager_.release());  // result ignored
    if (!closed) RaiseSystemError(error);
  }

 private:
  TScHandle manager_;
  TScHandle service_;
};

class TWinServiceBackend : public TServiceBackend {
 public:
  bool ServiceExists(const std::string& name) override {
    TScHandle manager(OpenManager());
    if (!manager)
      RaiseController("Could not open the Service Control Manager. Error %d \"%s\".", {},
                      GetLastError());
    TScHandle service(OpenServiceW(manager.get(), base::Widen(name).c_str(), SERVICE_QUERY_STATUS));
    if (service) return true;
    const DWORD error = GetLastError();
    if (error == ERROR_SERVICE_DOES_NOT_EXIST) return false;
    RaiseController("Could not open service \"%s\". Error %d \"%s\".", name, error);
  }

  bool IsServiceRunning(const std::string& name) override {
    TScHandle manager(OpenManager());
    if (!manager)
      RaiseController("Could not open the Service Control Manager. Error %d \"%s\".", {},
                      GetLastError());
    TScHandle service(OpenServiceW(manager.get(), base::Widen(name).c_str(), SERVICE_QUERY_STATUS));
    if (!service)
      RaiseController("Could not open service \"%s\". Error %d \"%s\".", name, GetLastError());
    SERVICE_STATUS status{};
    if (!QueryServiceStatus(service.get(), &status))
      RaiseController("Could not query the status of the \"%s\" service. Error %d \"%s\".", name,
                      GetLastError());
    return status.dwCurrentState != SERVICE_STOPPED;
  }

  std::unique_ptr<TServiceHandle> OpenForOperation(const std::string& name,
                                                   std::uint8_t operation) override {
    TScHandle manager(OpenManager());
    if (!manager) RaiseSystemError(GetLastError());
    const DWORD access =
        SERVICE_QUERY_STATUS | (operation == soStart ? SERVICE_START : SERVICE_STOP);
    TScHandle service(OpenServiceW(manager.get(), base::Widen(name).c_str(), access));
    if (!service) RaiseSystemError(GetLastError());
    return std::make_unique<TWinServiceHandle>(manager.release(), service.release());
  }
};

}  // namespace

std::shared_ptr<TServiceBackend> CreateSystemServiceBackend() {
  return std::make_shared<TWinServiceBackend>();
}

}  // namespace mrv
