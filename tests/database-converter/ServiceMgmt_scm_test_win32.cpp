// The service control manager half, for real: a small test service is registered, started and
// stopped through TServiceController and checked with the manager's own calls.

#include <windows.h>
#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <thread>

#include "ServiceMgmt_un.h"

using namespace mrv;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

#ifndef MRV_TEST_SERVICE_EXE
#error MRV_TEST_SERVICE_EXE must name the test service executable
#endif

namespace {

const wchar_t* const kServiceW = L"MrvConvTestSvc";
const char* const kService = "MrvConvTestSvc";
const char* const kMissing = "MrvConvNoSuchSvc";

// The service program as Windows sees it; a build-tree path of the cross build is on drive Z:.
std::wstring ServiceExePath() {
  std::string path = MRV_TEST_SERVICE_EXE;
  if (!path.empty() && path[0] == '/') {
    for (auto& c : path)
      if (c == '/') c = '\\';
    path = "Z:" + path;
  }
  return std::wstring(path.begin(), path.end());
}

// The system's text for a code as the manager half should quote it: no trailing breaks,
// blanks or periods.
std::string SystemText(DWORD code) {
  char buffer[1024] = {};
  DWORD length =
      FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code,
                     MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), buffer, sizeof buffer, nullptr);
  while (length > 0 &&
         (static_cast<unsigned char>(buffer[length - 1]) <= ' ' || buffer[length - 1] == '.'))
    --length;
  return std::string(buffer, length);
}

DWORD CurrentState() {
  SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
  SC_HANDLE service = OpenServiceW(manager, kServiceW, SERVICE_QUERY_STATUS);
  SERVICE_STATUS status{};
  const BOOL ok = service && QueryServiceStatus(service, &status);
  if (service) CloseServiceHandle(service);
  CloseServiceHandle(manager);
  return ok ? status.dwCurrentState : 0;
}

bool WaitForState(DWORD state, std::chrono::milliseconds limit = 20s) {
  const auto end = Clock::now() + limit;
  while (CurrentState() != state) {
    if (Clock::now() > end) return false;
    std::this_thread::sleep_for(20ms);
  }
  return true;
}

void RemoveService() {
  SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
  if (!manager) return;
  if (SC_HANDLE service = OpenServiceW(manager, kServiceW, SERVICE_ALL_ACCESS)) {
    SERVICE_STATUS status{};
    if (ControlService(service, SERVICE_CONTROL_STOP, &status)) WaitForState(SERVICE_STOPPED);
    DeleteService(service);
    CloseServiceHandle(service);
  }
  CloseServiceHandle(manager);
}

struct TResult {
  std::uint8_t Outcome = 255;
  std::string ErrorText;
  std::int64_t ElapsedMs = 0;
};

TServiceFinishedEvent Into(std::shared_ptr<std::promise<TResult>> promise) {
  const auto started = Clock::now();
  return [promise, started](TServiceControllerThread&, std::int32_t, const std::string& text,
                            std::uint8_t outcome) {
    promise->set_value(
        {outcome, text,
         std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - started).count()});
  };
}

TResult Await(std::shared_ptr<std::promise<TResult>> promise) {
  auto future = promise->get_future();
  if (future.wait_for(60s) != std::future_status::ready) {
    ADD_FAILURE() << "the operation did not finish";
    return {};
  }
  return future.get();
}

TResult StartWith(const std::vector<std::string>& arguments, std::uint32_t timeout,
                  const char* name = kService) {
  auto promise = std::make_shared<std::promise<TResult>>();
  TServiceController::StartServiceAsync(name, timeout, &arguments, false, Into(promise));
  return Await(promise);
}

TResult Stop(std::uint32_t timeout, const char* name = kService) {
  auto promise = std::make_shared<std::promise<TResult>>();
  TServiceController::StopServiceAsync(name, timeout, false, Into(promise));
  return Await(promise);
}

class ServiceControlManager : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    RemoveService();
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    if (!manager) {
      createError_ = GetLastError();
      return;
    }
    const std::wstring command = L"\"" + ServiceExePath() + L"\"";
    SC_HANDLE service =
        CreateServiceW(manager, kServiceW, kServiceW, SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS,
                       SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL, command.c_str(), nullptr,
                       nullptr, nullptr, nullptr, nullptr);
    if (!service)
      createError_ = GetLastError();
    else
      CloseServiceHandle(service);
    CloseServiceHandle(manager);
  }
  static void TearDownTestSuite() { RemoveService(); }

  void SetUp() override {
    if (createError_ == ERROR_ACCESS_DENIED)
      GTEST_SKIP() << "registering a service needs administrator rights";
    ASSERT_EQ(createError_, 0u) << "could not register the test service";
    ASSERT_TRUE(WaitForState(SERVICE_STOPPED));
  }
  void TearDown() override {
    if (CurrentState() != SERVICE_STOPPED) {
      WaitForState(SERVICE_RUNNING);
      Stop(30000);
    }
  }

  static inline DWORD createError_ = 0;
};

TEST_F(ServiceControlManager, RegistrationStoresTheProgramPath) {
  // Wine stores ImagePath as a plain string, Windows may store it expandable.
  HKEY key = nullptr;
  ASSERT_EQ(
      RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"System\\CurrentControlSet\\Services\\MrvConvTestSvc", 0,
                    KEY_READ, &key),
      ERROR_SUCCESS);
  wchar_t value[1024] = {};
  DWORD size = sizeof value - sizeof(wchar_t);
  DWORD type = 0;
  const LONG read =
      RegQueryValueExW(key, L"ImagePath", nullptr, &type, reinterpret_cast<BYTE*>(value), &size);
  RegCloseKey(key);
  ASSERT_EQ(read, ERROR_SUCCESS);
  EXPECT_TRUE(type == REG_SZ || type == REG_EXPAND_SZ) << type;
  std::wstring path = value;
  if (type == REG_EXPAND_SZ) {
    wchar_t expanded[1024] = {};
    ExpandEnvironmentStringsW(value, expanded, 1024);
    path = expanded;
  }
  EXPECT_TRUE(path == L"\"" + ServiceExePath() + L"\"" || path == ServiceExePath());
}

TEST_F(ServiceControlManager, QueriesReportPresenceAndState) {
  EXPECT_TRUE(TServiceController::ServiceExists(kService));
  EXPECT_FALSE(TServiceController::ServiceExists(kMissing));
  EXPECT_FALSE(TServiceController::IsServiceRunning(kService));
  try {
    TServiceController::IsServiceRunning(kMissing);
    ADD_FAILURE() << "no exception";
  } catch (const EServiceControllerException& e) {
    EXPECT_EQ(std::string(e.what()), std::string("Could not open service \"") + kMissing +
                                         "\". Error 1060 \"" + SystemText(1060) + "\".");
  }
}

TEST_F(ServiceControlManager, StartsAndStopsThroughPendingStates) {
  const TResult start = StartWith({"steps=4", "stepms=150"}, 30000);
  EXPECT_EQ(start.Outcome, soReached) << start.ErrorText;
  EXPECT_EQ(start.ErrorText, "");
  EXPECT_GE(start.ElapsedMs, 4 * 150);
  EXPECT_EQ(CurrentState(), static_cast<DWORD>(SERVICE_RUNNING));
  EXPECT_TRUE(TServiceController::IsServiceRunning(kService));

  const TResult stop = Stop(30000);
  EXPECT_EQ(stop.Outcome, soReached) << stop.ErrorText;
  EXPECT_GE(stop.ElapsedMs, 3 * 100);
  EXPECT_TRUE(WaitForState(SERVICE_STOPPED, 5s));
  EXPECT_FALSE(TServiceController::IsServiceRunning(kService));
}

TEST_F(ServiceControlManager, StoppingAStoppedOrMissingServiceFailsWithTheSystemText) {
  const TResult stopped = Stop(30000);
  EXPECT_EQ(stopped.Outcome, soError);
  EXPECT_FALSE(SystemText(ERROR_SERVICE_NOT_ACTIVE).empty());
  EXPECT_EQ(stopped.ErrorText,
            "System Error.  Code: 1062.\r\n" + SystemText(ERROR_SERVICE_NOT_ACTIVE));

  const TResult missing = Stop(30000, kMissing);
  EXPECT_EQ(missing.Outcome, soError);
  EXPECT_EQ(missing.ErrorText, "System Error.  Code: 1060.\r\n" + SystemText(1060));
}

TEST_F(ServiceControlManager, CheckpointsCarryTheWaitPastTheTimeOut) {
  // Eight checkpoints 150 ms apart: 1.2 s in all, against 400 ms without progress.
  const TResult start = StartWith({"steps=8", "stepms=150"}, 400);
  EXPECT_EQ(start.Outcome, soReached) << start.ErrorText;
  EXPECT_GT(start.ElapsedMs, 410);
}

TEST_F(ServiceControlManager, ServiceWithoutProgressTimesOut) {
  const TResult start = StartWith({"hangms=3000", "steps=1", "stepms=10"}, 300);
  EXPECT_EQ(start.Outcome, soTimedOut);
  EXPECT_EQ(start.ErrorText, "");
  EXPECT_LT(start.ElapsedMs, 2900);
}

TEST_F(ServiceControlManager, ServiceGivingUpWhileStartingFails) {
  const TResult start = StartWith({"fail=1", "stepms=100"}, 30000);
  EXPECT_EQ(start.Outcome, soError);
  EXPECT_EQ(start.ErrorText, "The operation failed. Please check the Windows Event Log.");
}

TEST_F(ServiceControlManager, CancelEndsASlowStart) {
  auto promise = std::make_shared<std::promise<TResult>>();
  const std::vector<std::string> arguments{"steps=40", "stepms=100"};
  const std::int32_t id =
      TServiceController::StartServiceAsync(kService, 60000, &arguments, false, Into(promise));
  std::this_thread::sleep_for(300ms);
  EXPECT_FALSE(TServiceController::CancelOperation(id));
  auto future = promise->get_future();
  ASSERT_EQ(future.wait_for(0s), std::future_status::ready);  // already delivered
  const TResult cancelled = future.get();
  EXPECT_EQ(cancelled.Outcome, soCancelled);
  EXPECT_LT(cancelled.ElapsedMs, 3000);
  EXPECT_EQ(TServiceController::RunningOperationCount(), 0u);
}

}  // namespace
