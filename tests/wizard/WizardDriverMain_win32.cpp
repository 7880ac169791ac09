// The wizard UI driver: prepares the Wine prefix (the product's service registration and its
// configuration file), then runs the named cases against the real mrvdbconv.exe.
//   mrv_wizard_driver --exe <mrvdbconv.exe> --work <host dir> --out <host dir> --hook <dll>
//                     --rows N [--case NAME ...]
// The work folder is prepared by scripts/wizard-shots: svc/ holds the stand-in service program,
// src/ the sample databases, bad/greylist.abs a file that is no database, target.db the SQLite
// External Database with its tables.
#include <windows.h>
#include <objbase.h>
#include <sql.h>
#include <sqlext.h>

#include <cstdio>
#include <fstream>

#include "WizardDriver_win32.h"

namespace wizdrv {

namespace {

const wchar_t* const kServiceName = L"MRVSVC";
const char* const kSections[4] = {"AutoSenderWhitelistDatabase", "GreylistingDatabase",
                                  "DhaDatabase", "HoneypotDatabase"};

DWORD ServiceState(SC_HANDLE service) {
  SERVICE_STATUS status{};
  return QueryServiceStatus(service, &status) ? status.dwCurrentState : 0;
}

}  // namespace

std::wstring TDriver::TargetConnection() const {
  // The SQLite ODBC driver is the host's: it opens Database= as a host path.
  return L"Driver={SQLite3};Database=" + HostPath(L"target.db");
}

void TDriver::HoldServiceStop(bool on) const {
  const std::wstring path = WinPath(HoldFile());
  if (on) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
  } else {
    DeleteFileW(path.c_str());
  }
}

bool TDriver::EnsureServiceRunning() {
  SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
  SC_HANDLE service = manager ? OpenServiceW(manager, kServiceName, SERVICE_ALL_ACCESS) : nullptr;
  bool ok = false;
  if (service) {
    // A stop still under way (a cancelled run leaves one) has to end before the next start.
    WaitUntil(
        [&] {
          const DWORD state = ServiceState(service);
          return state == SERVICE_STOPPED || state == SERVICE_RUNNING;
        },
        60000);
    if (ServiceState(service) == SERVICE_STOPPED) StartServiceW(service, 0, nullptr);
    ok = WaitUntil([&] { return ServiceState(service) == SERVICE_RUNNING; }, 60000);
    CloseServiceHandle(service);
  }
  if (manager) CloseServiceHandle(manager);
  return Check(ok, "the MRVSVC service is not running before the run");
}

bool TDriver::PrepareEnvironment(std::string& error) {
  // mrvent.ini beside the service program names the sample databases and the target.
  std::ofstream ini(Narrow(WinPath(HostPath(L"svc/mrvent.ini"))), std::ios::binary);
  ini << "; written by the wizard UI driver\r\n\r\n";
  for (int k = 0; k < 4; ++k)
    ini << "[" << kSections[k] << "]\r\nEmbeddedPath=" << Narrow(WinWork(L"src"))
        << "\r\nExternalConnectionString=" << Narrow(TargetConnection()) << "\r\n\r\n";
  ini.close();
  if (!ini) {
    error = "cannot write mrvent.ini";
    return false;
  }
  HoldServiceStop(false);

  SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
  if (!manager) {
    error = "cannot open the service control manager";
    return false;
  }
  if (SC_HANDLE old = OpenServiceW(manager, kServiceName, SERVICE_ALL_ACCESS)) {
    SERVICE_STATUS status{};
    ControlService(old, SERVICE_CONTROL_STOP, &status);
    WaitUntil([&] { return ServiceState(old) == SERVICE_STOPPED; }, 60000);
    DeleteService(old);
    CloseServiceHandle(old);
    WaitUntil(
        [&] {
          SC_HANDLE again = OpenServiceW(manager, kServiceName, SERVICE_QUERY_STATUS);
          if (again) CloseServiceHandle(again);
          return again == nullptr;
        },
        30000);
  }
  // The ImagePath the wizard reads: the program in the folder that holds mrvent.ini, unquoted.
  const std::wstring image = WinPath(opt_.ServiceExe);
  SC_HANDLE service =
      CreateServiceW(manager, kServiceName, L"Mrv Service (test stand-in)", SERVICE_ALL_ACCESS,
                     SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL,
                     image.c_str(), nullptr, nullptr, nullptr, nullptr, nullptr);
  if (!service) {
    error = "CreateService failed with " + std::to_string(GetLastError());
    CloseServiceHandle(manager);
    return false;
  }
  CloseServiceHandle(service);
  CloseServiceHandle(manager);
  if (!EnsureServiceRunning()) {
    error = "the MRVSVC stand-in does not start";
    return false;
  }
  return true;
}

long long TDriver::CountRows(const wchar_t* table) {
  long long count = -1;
  SQLHENV env = nullptr;
  SQLHDBC dbc = nullptr;
  SQLHSTMT stmt = nullptr;
  SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env);
  SQLSetEnvAttr(env, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
  SQLAllocHandle(SQL_HANDLE_DBC, env, &dbc);
  std::wstring connection = TargetConnection();
  if (SQL_SUCCEEDED(SQLDriverConnectW(dbc, nullptr, reinterpret_cast<SQLWCHAR*>(connection.data()),
                                      SQL_NTS, nullptr, 0, nullptr, SQL_DRIVER_NOPROMPT))) {
    SQLAllocHandle(SQL_HANDLE_STMT, dbc, &stmt);
    std::wstring query = std::wstring(L"SELECT COUNT(*) FROM ") + table;
    SQLBIGINT value = 0;
    SQLLEN indicator = 0;
    if (SQL_SUCCEEDED(SQLExecDirectW(stmt, reinterpret_cast<SQLWCHAR*>(query.data()), SQL_NTS)) &&
        SQL_SUCCEEDED(SQLFetch(stmt)) &&
        SQL_SUCCEEDED(SQLGetData(stmt, 1, SQL_C_SBIGINT, &value, sizeof value, &indicator)))
      count = value;
    SQLFreeHandle(SQL_HANDLE_STMT, stmt);
    SQLDisconnect(dbc);
  }
  SQLFreeHandle(SQL_HANDLE_DBC, dbc);
  SQLFreeHandle(SQL_HANDLE_ENV, env);
  return count;
}

}  // namespace wizdrv

int wmain(int argc, wchar_t** argv) {
  using namespace wizdrv;
  TOptions opt;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::wstring key = argv[i], value = argv[i + 1];
    if (key == L"--exe")
      opt.Exe = WinPath(value);
    else if (key == L"--work")
      opt.Work = value;
    else if (key == L"--out")
      opt.Out = value;
    else if (key == L"--hook")
      opt.HookDll = WinPath(value);
    else if (key == L"--rows")
      opt.Rows = _wtoi(value.c_str());
    else if (key == L"--case")
      opt.Only.push_back(Narrow(value));
    else {
      std::fprintf(stderr, "unknown option %s\n", Narrow(key).c_str());
      return 2;
    }
  }
  if (opt.Exe.empty() || opt.Work.empty() || opt.Out.empty() || opt.HookDll.empty() ||
      opt.Rows <= 0) {
    std::fprintf(stderr,
                 "usage: mrv_wizard_driver --exe EXE --work DIR --out DIR --hook DLL --rows N "
                 "[--case NAME ...]\n");
    return 2;
  }
  opt.ServiceExe = opt.Work + L"/svc/mrv_wizard_service.exe";
  setvbuf(stdout, nullptr, _IONBF, 0);
  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  TDriver driver(opt);
  std::string error;
  if (!driver.PrepareEnvironment(error)) {
    std::printf("FAIL setup: %s\n", error.c_str());
    return 1;
  }
  const int rc = driver.RunAll();
  CoUninitialize();
  return rc;
}
