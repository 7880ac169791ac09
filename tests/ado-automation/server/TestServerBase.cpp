// The test server's plumbing: counters, the IDispatch base, and errors raised as ADO raises them.
#include <cstdio>
#include <cwchar>

#include "TestServer.h"

namespace adotest {

// {6cf493e0-7d83-4c4b-aff4-1df76d3eb5c4}: hands out the C++ object behind an interface pointer.
const IID IID_TestObject = {
    0x6cf493e0, 0x7d83, 0x4c4b, {0xaf, 0xf4, 0x1d, 0xf7, 0x6d, 0x3e, 0xb5, 0xc4}};

namespace {

std::string& CountsPath() {
  static std::string path;
  return path;
}

// The IErrorInfo a failed call leaves for its caller (counted like every other object).
class ErrorObject final : public IErrorInfo {
 public:
  ErrorObject(const Fault& f) : fault_(f) { InterlockedIncrement(&Counts().Created); }
  ~ErrorObject() { InterlockedIncrement(&Counts().Released); }
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
    if (riid == IID_IUnknown || riid == IID_IErrorInfo) {
      *out = static_cast<IErrorInfo*>(this);
      AddRef();
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
  ULONG STDMETHODCALLTYPE Release() override {
    ULONG n = --refs_;
    if (n == 0) {
      delete this;
      if (Counts().Created == Counts().Released) WriteCounts();
    }
    return n;
  }
  HRESULT STDMETHODCALLTYPE GetGUID(GUID* g) override {
    *g = IID_IDispatch;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetSource(BSTR* s) override {
    *s = SysAllocString(Wide(fault_.Source).c_str());
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetDescription(BSTR* s) override {
    *s = SysAllocString(Wide(fault_.Description).c_str());
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetHelpFile(BSTR* s) override {
    *s = nullptr;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetHelpContext(DWORD* c) override {
    *c = 0;
    return S_OK;
  }

 private:
  ULONG refs_ = 1;
  Fault fault_;
};

// The fault whose texts a deferred EXCEPINFO is still to receive (one per thread).
thread_local Fault g_deferred;

HRESULT STDAPICALLTYPE FillInDeferred(EXCEPINFO* info) {
  info->bstrSource = SysAllocString(Wide(g_deferred.Source).c_str());
  info->bstrDescription = SysAllocString(Wide(g_deferred.Description).c_str());
  info->pfnDeferredFillIn = nullptr;
  return S_OK;
}

}  // namespace

Counters& Counts() {
  static Counters c;
  return c;
}

void SetCountsPath(const std::string& path) { CountsPath() = path; }

void WriteCounts() {
  if (CountsPath().empty()) return;
  FILE* f = _wfopen(Wide(CountsPath()).c_str(), L"w");
  if (!f) return;
  const Counters& c = Counts();
  std::fprintf(f,
               "created=%ld\nreleased=%ld\nrepeated_lookups=%ld\nempty_recordsets=%ld\n"
               "executes=%ld\nno_records_executes=%ld\n",
               c.Created, c.Released, c.RepeatedLookups, c.EmptyRecordsets, c.Executes,
               c.NoRecordsExecutes);
  std::fclose(f);
}

FailPlan& Plan() {
  static FailPlan p;
  return p;
}

std::string Utf8(const wchar_t* s, int n) {
  if (!s) return {};
  if (n < 0) n = static_cast<int>(wcslen(s));
  int len = WideCharToMultiByte(CP_UTF8, 0, s, n, nullptr, 0, nullptr, nullptr);
  std::string out(len, '\0');
  WideCharToMultiByte(CP_UTF8, 0, s, n, out.data(), len, nullptr, nullptr);
  return out;
}

std::wstring Wide(const std::string& s) {
  int len = MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), nullptr, 0);
  std::wstring out(len, L'\0');
  MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), out.data(), len);
  return out;
}

void Throw(HRESULT code, const std::string& description, const std::string& source) {
  throw Fault{code, source, description};
}

void MaybeFail(const wchar_t* member, const std::string& sql) {
  FailPlan& p = Plan();
  if (p.Member.empty() || _wcsicmp(Wide(p.Member).c_str(), member) != 0) return;
  if (!p.SqlPrefix.empty() && _strnicmp(sql.c_str(), p.SqlPrefix.c_str(), p.SqlPrefix.size()) != 0)
    return;
  if (++p.Seen != p.Nth) return;
  std::string text = p.Text.empty() ? "Simulated failure of " + Utf8(member) + "." : p.Text;
  Throw(p.Code, text, p.Source);
}

VARIANT* Deref(VARIANT* v) {
  while (v && v->vt == (VT_BYREF | VT_VARIANT)) v = v->pvarVal;
  return v;
}

bool Missing(const VARIANT* v) {
  return !v || v->vt == VT_EMPTY || (v->vt == VT_ERROR && v->scode == DISP_E_PARAMNOTFOUND);
}

long ArgLong(VARIANT* v) {
  VARIANT tmp;
  VariantInit(&tmp);
  if (FAILED(VariantChangeType(&tmp, Deref(v), 0, VT_I4)))
    Throw(0x800A0BB9,
          "Arguments are of the wrong type, are out of acceptable range, or are in "
          "conflict with one another.",
          "ADODB");
  return tmp.lVal;
}

std::string ArgText(VARIANT* v) {
  VARIANT tmp;
  VariantInit(&tmp);
  if (FAILED(VariantChangeType(&tmp, Deref(v), 0, VT_BSTR)))
    Throw(0x800A0BB9,
          "Arguments are of the wrong type, are out of acceptable range, or are in "
          "conflict with one another.",
          "ADODB");
  std::string s = Utf8(tmp.bstrVal, static_cast<int>(SysStringLen(tmp.bstrVal)));
  VariantClear(&tmp);
  return s;
}

void SetText(VARIANT* out, const std::string& text) {
  if (!out) return;
  std::wstring w = Wide(text);
  out->vt = VT_BSTR;
  out->bstrVal = SysAllocStringLen(w.data(), static_cast<UINT>(w.size()));
}

void SetDisp(VARIANT* out, IDispatch* d) {
  if (!out) {
    if (d) d->Release();
    return;
  }
  out->vt = VT_DISPATCH;
  out->pdispVal = d;
}

// ---- DispObject ---------------------------------------------------------------------------

DispObject::DispObject(const std::vector<Member>& members) : members_(members) {
  InterlockedIncrement(&Counts().Created);
}

DispObject::~DispObject() { InterlockedIncrement(&Counts().Released); }

HRESULT DispObject::QueryInterface(REFIID riid, void** out) {
  if (!out) return E_POINTER;
  if (riid == IID_IUnknown || riid == IID_IDispatch || riid == IID_TestObject)
    *out = static_cast<IDispatch*>(this);
  else if (riid == IID_ISupportErrorInfo)
    *out = static_cast<ISupportErrorInfo*>(this);
  else {
    *out = nullptr;
    return E_NOINTERFACE;
  }
  AddRef();
  return S_OK;
}

ULONG DispObject::AddRef() { return InterlockedIncrement(&refs_); }

ULONG DispObject::Release() {
  ULONG n = InterlockedDecrement(&refs_);
  if (n == 0) {
    delete this;
    if (Counts().Created == Counts().Released) WriteCounts();
  }
  return n;
}

HRESULT DispObject::GetTypeInfoCount(UINT* n) {
  if (n) *n = 0;
  return S_OK;
}

HRESULT DispObject::GetTypeInfo(UINT, LCID, ITypeInfo** info) {
  if (info) *info = nullptr;
  return E_NOTIMPL;
}

HRESULT DispObject::GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) {
  HRESULT hr = S_OK;
  for (UINT i = 0; i < count; ++i) {
    ids[i] = DISPID_UNKNOWN;
    if (i > 0) continue;  // named arguments are not supported
    for (const Member& m : members_)
      if (_wcsicmp(m.Name, names[i]) == 0) ids[i] = m.Id;
    if (ids[i] == DISPID_UNKNOWN) {
      hr = DISP_E_UNKNOWNNAME;
      continue;
    }
    if (++lookups_[ids[i]] > 1) ++Counts().RepeatedLookups;
  }
  if (count > 1 && hr == S_OK) hr = DISP_E_UNKNOWNNAME;
  return hr;
}

const wchar_t* DispObject::NameOf(DISPID id) const {
  for (const Member& m : members_)
    if (m.Id == id) return m.Name;
  return nullptr;
}

HRESULT DispObject::Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                           EXCEPINFO* info, UINT*) {
  const wchar_t* name = NameOf(id);
  if (!name) return DISP_E_MEMBERNOTFOUND;
  const bool put = (flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)) != 0;
  if (put &&
      (!params || params->cNamedArgs != 1 || params->rgdispidNamedArgs[0] != DISPID_PROPERTYPUT))
    return DISP_E_PARAMNOTOPTIONAL;
  if (!put && params && params->cNamedArgs != 0) return DISP_E_NONAMEDARGS;
  std::vector<VARIANT*> args;
  if (params)
    for (UINT i = params->cArgs; i > 0; --i) args.push_back(&params->rgvarg[i - 1]);
  VARIANT unused;  // a result nobody asked for is still produced, and dropped
  VariantInit(&unused);
  VARIANT* out = result ? result : &unused;
  VariantInit(out);
  try {
    // Execute and ConnectionString decide for themselves (they need the text first).
    if (_wcsicmp(name, L"Execute") != 0 && _wcsicmp(name, L"ConnectionString") != 0)
      MaybeFail(name);
    Call(id, flags, args, out);
    VariantClear(&unused);
    return S_OK;
  } catch (const Fault& f) {
    VariantClear(out);
    if (Plan().Deferred && info) {
      g_deferred = f;
      *info = EXCEPINFO{};
      info->scode = f.Code;
      info->pfnDeferredFillIn = FillInDeferred;
      return DISP_E_EXCEPTION;
    }
    auto* error = new ErrorObject(f);
    SetErrorInfo(0, error);
    error->Release();
    if (Plan().Raw) return f.Code;
    // As the type library's Invoke does: the error object becomes the EXCEPINFO.
    IErrorInfo* pending = nullptr;
    if (GetErrorInfo(0, &pending) != S_OK || !pending) return f.Code;
    if (info) {
      *info = EXCEPINFO{};
      info->scode = f.Code;
      pending->GetSource(&info->bstrSource);
      pending->GetDescription(&info->bstrDescription);
    }
    pending->Release();
    return DISP_E_EXCEPTION;
  }
}

HRESULT DispObject::InterfaceSupportsErrorInfo(REFIID riid) {
  return riid == IID_IDispatch ? S_OK : S_FALSE;
}

}  // namespace adotest
