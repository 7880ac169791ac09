// The test server's DLL entry points: class objects, per-user registration of the programmatic
// identifiers, unloading, and the counts for the tests.
#include <olectl.h>

#include "TestServer.h"

namespace adotest {
namespace {

// {c757bc46-3ce2-4cfa-a23f-a82e815cdaba} and {c962b1cc-1170-4e14-ac5e-6da1aadb9868}
const CLSID kConnectionClsid = {
    0xc757bc46, 0x3ce2, 0x4cfa, {0xa2, 0x3f, 0xa8, 0x2e, 0x81, 0x5c, 0xda, 0xba}};
const CLSID kCommandClsid = {
    0xc962b1cc, 0x1170, 0x4e14, {0xac, 0x5e, 0x6d, 0xa1, 0xaa, 0xdb, 0x98, 0x68}};
const wchar_t* const kConnectionClsidText = L"{C757BC46-3CE2-4CFA-A23F-A82E815CDABA}";
const wchar_t* const kCommandClsidText = L"{C962B1CC-1170-4E14-AC5E-6DA1AADB9868}";

HMODULE g_module = nullptr;
LONG g_locks = 0;

class Factory final : public IClassFactory {
 public:
  explicit Factory(bool command) : command_(command) {}
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
    if (riid == IID_IUnknown || riid == IID_IClassFactory) {
      *out = static_cast<IClassFactory*>(this);
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }  // static objects
  ULONG STDMETHODCALLTYPE Release() override { return 1; }
  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid, void** out) override {
    *out = nullptr;
    if (outer) return CLASS_E_NOAGGREGATION;
    // A broken installation, on request: the class is registered but cannot be created.
    char broken[4] = {};
    if (GetEnvironmentVariableA("MRV_ADO_TEST_CREATE_FAIL", broken, sizeof broken) &&
        broken[0] == '1')
      return E_OUTOFMEMORY;
    IDispatch* object = command_ ? NewCommand() : NewConnection();
    HRESULT hr = object->QueryInterface(riid, out);
    object->Release();
    return hr;
  }
  HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override {
    if (lock)
      InterlockedIncrement(&g_locks);
    else
      InterlockedDecrement(&g_locks);
    return S_OK;
  }

 private:
  bool command_;
};

Factory g_connectionFactory(false), g_commandFactory(true);

bool SetKey(HKEY hive, const std::wstring& path, const wchar_t* name, const std::wstring& value) {
  HKEY key = nullptr;
  if (RegCreateKeyExW(hive, path.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr) !=
      ERROR_SUCCESS)
    return false;
  LONG rc = RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                           static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
  RegCloseKey(key);
  return rc == ERROR_SUCCESS;
}

bool RegisterClass(HKEY hive, const wchar_t* progId, const wchar_t* clsid,
                   const std::wstring& dll) {
  const std::wstring classes = L"Software\\Classes\\";
  const std::wstring server = classes + L"CLSID\\" + clsid + L"\\InprocServer32";
  return SetKey(hive, classes + progId + L"\\CLSID", nullptr, clsid) &&
         SetKey(hive, classes + L"CLSID\\" + clsid, nullptr, progId) &&
         SetKey(hive, classes + L"CLSID\\" + clsid + L"\\ProgID", nullptr, progId) &&
         SetKey(hive, server, nullptr, dll) && SetKey(hive, server, L"ThreadingModel", L"Both");
}

bool RegisterBoth(HKEY hive, const std::wstring& dll) {
  return RegisterClass(hive, L"ADODB.Connection", kConnectionClsidText, dll) &&
         RegisterClass(hive, L"ADODB.Command", kCommandClsidText, dll);
}

bool ProgIdIsOurs() {
  CLSID clsid{};
  return SUCCEEDED(CLSIDFromProgID(L"ADODB.Connection", &clsid)) && clsid == kConnectionClsid;
}

}  // namespace
}  // namespace adotest

using namespace adotest;

extern "C" {

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) g_module = instance;
  if (reason == DLL_PROCESS_DETACH) WriteCounts();
  return TRUE;
}

__declspec(dllexport) HRESULT STDAPICALLTYPE
    DllGetClassObject(REFCLSID clsid, REFIID riid, void** out) {
  if (clsid == kConnectionClsid) return g_connectionFactory.QueryInterface(riid, out);
  if (clsid == kCommandClsid) return g_commandFactory.QueryInterface(riid, out);
  *out = nullptr;
  return CLASS_E_CLASSNOTAVAILABLE;
}

__declspec(dllexport) HRESULT STDAPICALLTYPE DllCanUnloadNow() {
  return Counts().Created == Counts().Released && g_locks == 0 ? S_OK : S_FALSE;
}

// Per-user registration (HKEY_CURRENT_USER\Software\Classes) under "ADODB.Connection" and
// "ADODB.Command". Wine reads classes only from the machine's hive, where its own partial
// ADO is registered under the same names; when the per-user entries do not take effect the
// machine's are replaced as well (in a Wine test prefix, where that is allowed).
__declspec(dllexport) HRESULT STDAPICALLTYPE DllRegisterServer() {
  wchar_t path[MAX_PATH];
  DWORD n = GetModuleFileNameW(g_module, path, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return SELFREG_E_CLASS;
  if (!RegisterBoth(HKEY_CURRENT_USER, path)) return SELFREG_E_CLASS;
  if (ProgIdIsOurs()) return S_OK;
  return RegisterBoth(HKEY_LOCAL_MACHINE, path) && ProgIdIsOurs() ? S_OK : SELFREG_E_CLASS;
}

// Removes the per-user entries and this server's class keys (a machine-wide programmatic
// identifier replaced under Wine is left pointing at nothing).
__declspec(dllexport) HRESULT STDAPICALLTYPE DllUnregisterServer() {
  const std::wstring classes = L"Software\\Classes\\";
  for (const wchar_t* key : {L"ADODB.Connection", L"ADODB.Command"})
    RegDeleteTreeW(HKEY_CURRENT_USER, (classes + key).c_str());
  for (HKEY hive : {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE})
    for (const wchar_t* clsid : {kConnectionClsidText, kCommandClsidText})
      RegDeleteTreeW(hive, (classes + L"CLSID\\" + clsid).c_str());
  return S_OK;
}

// The counts of this process so far, for tests that load the server in their own process.
__declspec(dllexport) void AdoTestServerCounts(Counters* out) { *out = Counts(); }

}  // extern "C"
