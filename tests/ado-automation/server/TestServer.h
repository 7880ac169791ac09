// An in-process automation server for tests: "ADODB.Connection" and "ADODB.Command" with the
// members our ADO provider calls, executing the statements on a SQLite file. Every object is an
// IDispatch with a hand-written GetIDsOfNames/Invoke and ISupportErrorInfo; failures are raised
// the way ADO raises them (IErrorInfo set, then Invoke answers DISP_E_EXCEPTION with EXCEPINFO).
//
// Connection string keys (besides Provider, which is ignored):
//   Data Source=PATH   the SQLite file;  Create=yes  creates it when missing
//   Fail=MEMBER[@N]    the Nth call (default 1) of MEMBER fails, counted from ConnectionString
//   FailSql=PREFIX     only Execute calls whose command text starts with PREFIX are counted
//   FailCode=N         HRESULT of that failure (signed decimal), FailSource=, FailText=
//   FailMode=raw       Invoke answers the HRESULT itself, leaving the IErrorInfo to the caller
//   FailMode=deferred  EXCEPINFO carries only the code and a pfnDeferredFillIn for the texts
//   Counts=PATH        the object counts are written there (see WriteCounts)
// MRV_ADO_TEST_CREATE_FAIL=1 in the environment makes the class factory refuse to create objects.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <sqlite3.h>

#include <map>
#include <string>
#include <vector>

namespace adotest {

// Process-wide counters, written to the Counts file and readable through AdoTestServerCounts.
struct Counters {
  LONG Created = 0;          // objects of this server (including error objects)
  LONG Released = 0;         // of those, destroyed
  long RepeatedLookups = 0;  // GetIDsOfNames for a name the same object had resolved before
  long EmptyRecordsets = 0;  // recordsets built for statements that return no rows
  long Executes = 0;
  long NoRecordsExecutes = 0;  // Execute calls with adExecuteNoRecords
};
Counters& Counts();
void WriteCounts();
void SetCountsPath(const std::string& path);

// The failure the connection string asks for.
struct FailPlan {
  std::string Member;  // empty: never fail
  long Nth = 1;
  long Seen = 0;
  std::string SqlPrefix;
  HRESULT Code = static_cast<HRESULT>(0x80040E14);
  std::string Source = "MrvTestProvider";
  std::string Text;
  bool Raw = false;
  bool Deferred = false;
};
FailPlan& Plan();

std::string Utf8(const wchar_t* s, int n = -1);
std::wstring Wide(const std::string& s);

// An error as a failed call reports it: the HRESULT plus the IErrorInfo contents.
struct Fault {
  HRESULT Code;
  std::string Source, Description;
};

// Base of every object: reference count, IDispatch over a member table, error raising.
class DispObject : public IDispatch, public ISupportErrorInfo {
 public:
  struct Member {
    const wchar_t* Name;
    DISPID Id;
  };
  explicit DispObject(const std::vector<Member>& members);
  virtual ~DispObject();

  // IUnknown
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override;
  ULONG STDMETHODCALLTYPE AddRef() override;
  ULONG STDMETHODCALLTYPE Release() override;
  // IDispatch
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* n) override;
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override;
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID,
                                          DISPID* ids) override;
  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params,
                                   VARIANT* result, EXCEPINFO* info, UINT* argErr) override;
  // ISupportErrorInfo
  HRESULT STDMETHODCALLTYPE InterfaceSupportsErrorInfo(REFIID riid) override;

 protected:
  // The member itself; throws Fault on failure. `args` in natural order, as the caller passed
  // them (Deref resolves by-reference variants); for property puts the value is the last one.
  // `result` is never null.
  virtual void Call(DISPID id, WORD flags, std::vector<VARIANT*>& args, VARIANT* result) = 0;
  const wchar_t* NameOf(DISPID id) const;

 private:
  long refs_ = 1;
  const std::vector<Member>& members_;
  std::map<DISPID, int> lookups_;
};

// Throws the fault the plan asks for when this call of `member` is the chosen one.
void MaybeFail(const wchar_t* member, const std::string& sql = std::string());
[[noreturn]] void Throw(HRESULT code, const std::string& description,
                        const std::string& source = "MrvTestProvider");

// Argument helpers.
VARIANT* Deref(VARIANT* v);
bool Missing(const VARIANT* v);
long ArgLong(VARIANT* v);
std::string ArgText(VARIANT* v);
void SetText(VARIANT* out, const std::string& text);
void SetDisp(VARIANT* out, IDispatch* d);  // takes over the caller's reference

// Creates the two creatable classes (refcount 1).
IDispatch* NewConnection();
IDispatch* NewCommand();

// The C++ object behind an interface pointer of this server, or null. Holds no reference.
extern const IID IID_TestObject;
template <class T>
T* ObjectOf(IUnknown* p) {
  IDispatch* d = nullptr;
  if (!p || FAILED(p->QueryInterface(IID_TestObject, reinterpret_cast<void**>(&d)))) return nullptr;
  d->Release();
  return dynamic_cast<T*>(static_cast<DispObject*>(d));
}

// The SQLite handle of an open connection object of this server; throws the ADO error for a
// connection that is not set, not ours or closed.
sqlite3* DatabaseOf(IDispatch* connection);

// A recordset over rows already read (`open` false: the closed recordset a statement without
// rows gives). Takes over the variants.
IDispatch* NewRecordset(std::vector<std::wstring> names, std::vector<std::vector<VARIANT>> rows,
                        bool open);

}  // namespace adotest
