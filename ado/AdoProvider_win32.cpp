// ADO itself, for "Provider=..." connection strings on Windows: "ADODB.Connection" and
// "ADODB.Command" created by programmatic identifier and driven by late-bound IDispatch calls
// (ConnectionString, Open, BeginTrans/CommitTrans/RollbackTrans, Close; ActiveConnection,
// CommandType, CommandText, CreateParameter, Parameters.Append, parameter Value, Execute with
// records affected; recordset Fields(i).Value, EOF, MoveNext, Close). The calling thread must
// have initialised COM.
#include <windows.h>
#include <oleauto.h>

#include <string>
#include <utility>
#include <vector>

#include "AdoBackend.h"

namespace ado::detail {
namespace {

constexpr const char* kSourceAdo = "ADODB";

std::wstring WideOf(const std::string& s) {
  std::u16string u = Utf8ToUtf16(s);
  return std::wstring(u.begin(), u.end());
}

std::string Utf8Of(const wchar_t* s, std::size_t n) {
  return Utf16ToUtf8(std::u16string(reinterpret_cast<const char16_t*>(s), n));
}

std::string Utf8Of(BSTR b) { return b ? Utf8Of(b, SysStringLen(b)) : std::string(); }

std::string SystemText(HRESULT hr) {
  wchar_t* buf = nullptr;
  DWORD n = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                               FORMAT_MESSAGE_IGNORE_INSERTS,
                           nullptr, static_cast<DWORD>(hr), 0, reinterpret_cast<LPWSTR>(&buf), 0,
                           nullptr);
  std::string text = n ? Utf8Of(buf, n) : std::string();
  if (buf) LocalFree(buf);
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' '))
    text.pop_back();
  if (text.empty()) text = "Automation error.";
  return text;
}

// A VARIANT that clears itself.
struct Var {
  VARIANT v;
  Var() { VariantInit(&v); }
  ~Var() { VariantClear(&v); }
  Var(const Var&) = delete;
  Var& operator=(const Var&) = delete;
};

// An owned IDispatch pointer.
class Disp {
 public:
  Disp() = default;
  explicit Disp(IDispatch* p) : p_(p) {}
  ~Disp() { Reset(); }
  Disp(Disp&& o) noexcept : p_(std::exchange(o.p_, nullptr)) {}
  Disp& operator=(Disp&& o) noexcept {
    if (this != &o) {
      Reset();
      p_ = std::exchange(o.p_, nullptr);
    }
    return *this;
  }
  void Reset() noexcept {
    if (p_) p_->Release();
    p_ = nullptr;
  }
  IDispatch* Get() const noexcept { return p_; }
  explicit operator bool() const noexcept { return p_ != nullptr; }

 private:
  IDispatch* p_ = nullptr;
};

// Calls member `name` of `obj`; `args` in their natural order (reversed here, as IDispatch
// wants). Failures become EAdoError with the provider's description, HRESULT and source.
void Invoke(IDispatch* obj, const wchar_t* name, WORD flags, std::vector<VARIANT*> args,
            VARIANT* result) {
  if (!obj) throw EAdoError("Object is not set.", kErrNotConnected, kSourceAdo);
  DISPID id = 0;
  LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
  HRESULT hr = obj->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id);
  if (FAILED(hr))
    throw EAdoError(SystemText(hr) + " (" + Utf8Of(name, wcslen(name)) + ")",
                    static_cast<std::int32_t>(hr), kSourceAdo);
  std::vector<VARIANT> reversed;
  reversed.reserve(args.size());
  for (auto it = args.rbegin(); it != args.rend(); ++it) reversed.push_back(**it);  // shallow
  DISPPARAMS params{};
  params.cArgs = static_cast<UINT>(reversed.size());
  params.rgvarg = reversed.empty() ? nullptr : reversed.data();
  DISPID putId = DISPID_PROPERTYPUT;
  if (flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)) {
    params.cNamedArgs = 1;
    params.rgdispidNamedArgs = &putId;
  }
  EXCEPINFO info{};
  UINT argErr = 0;
  hr = obj->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, flags, &params, result, &info, &argErr);
  if (hr == DISP_E_EXCEPTION) {
    if (info.pfnDeferredFillIn) info.pfnDeferredFillIn(&info);
    std::string message = Utf8Of(info.bstrDescription);
    std::string source = Utf8Of(info.bstrSource);
    HRESULT code = info.scode ? info.scode : static_cast<HRESULT>(info.wCode);
    SysFreeString(info.bstrDescription);
    SysFreeString(info.bstrSource);
    SysFreeString(info.bstrHelpFile);
    if (message.empty()) message = SystemText(code);
    throw EAdoError(message, static_cast<std::int32_t>(code), source.empty() ? kSourceAdo : source);
  }
  if (FAILED(hr)) throw EAdoError(SystemText(hr), static_cast<std::int32_t>(hr), kSourceAdo);
}

void Call(IDispatch* obj, const wchar_t* name, std::vector<VARIANT*> args = {}) {
  Var ignored;
  Invoke(obj, name, DISPATCH_METHOD, std::move(args), &ignored.v);
}

void Get(IDispatch* obj, const wchar_t* name, Var& out, std::vector<VARIANT*> args = {}) {
  Invoke(obj, name, DISPATCH_METHOD | DISPATCH_PROPERTYGET, std::move(args), &out.v);
}

void Put(IDispatch* obj, const wchar_t* name, VARIANT* value) {
  Invoke(obj, name, DISPATCH_PROPERTYPUT, {value}, nullptr);
}

Disp GetObject(IDispatch* obj, const wchar_t* name, std::vector<VARIANT*> args = {}) {
  Var v;
  Get(obj, name, v, std::move(args));
  if (v.v.vt != VT_DISPATCH || !v.v.pdispVal)
    throw EAdoError("The automation object returned no object.", kErrTypeMismatch, kSourceAdo);
  v.v.pdispVal->AddRef();
  return Disp(v.v.pdispVal);
}

void SetText(Var& out, const std::string& text) {
  std::wstring w = WideOf(text);
  out.v.vt = VT_BSTR;
  out.v.bstrVal = SysAllocStringLen(w.data(), static_cast<UINT>(w.size()));
}

void SetInt(Var& out, LONG value) {
  out.v.vt = VT_I4;
  out.v.lVal = value;
}

// Creates an automation object by programmatic identifier. Failure means the component is
// missing or broken.
Disp Create(const wchar_t* progId) {
  CLSID clsid{};
  HRESULT hr = CLSIDFromProgID(progId, &clsid);
  IDispatch* p = nullptr;
  if (SUCCEEDED(hr))
    hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER, IID_IDispatch,
                          reinterpret_cast<void**>(&p));
  if (FAILED(hr))
    throw EAdoError(SystemText(hr) + " (" + Utf8Of(progId, wcslen(progId)) + ")",
                    static_cast<std::int32_t>(hr), kSourceAdo, true);
  return Disp(p);
}

Variant FromVariant(const VARIANT& v) {
  switch (v.vt) {
    case VT_EMPTY:
    case VT_NULL: return Variant();
    case VT_BSTR: return Variant(Utf8Of(v.bstrVal));
    case VT_DATE: return Variant::FromDateTime(v.date);
    case VT_I1: return Variant(static_cast<int>(v.cVal));
    case VT_UI1: return Variant(static_cast<int>(v.bVal));
    case VT_I2: return Variant(static_cast<int>(v.iVal));
    case VT_UI2: return Variant(static_cast<int>(v.uiVal));
    case VT_I4: return Variant(static_cast<std::int64_t>(v.lVal));
    case VT_UI4: return Variant(static_cast<std::int64_t>(v.ulVal));
    case VT_INT: return Variant(static_cast<std::int64_t>(v.intVal));
    case VT_I8: return Variant(static_cast<std::int64_t>(v.llVal));
    case VT_BOOL: return Variant(v.boolVal ? 1 : 0);
    case VT_R4: return Variant::FromDouble(v.fltVal);
    case VT_R8: return Variant::FromDouble(v.dblVal);
    default: break;
  }
  // Decimals, currency and the rest: as a number when they are one, else as text.
  Var tmp;
  if (SUCCEEDED(VariantChangeType(&tmp.v, const_cast<VARIANT*>(&v), 0, VT_I8)))
    return Variant(static_cast<std::int64_t>(tmp.v.llVal));
  VariantClear(&tmp.v);
  if (SUCCEEDED(VariantChangeType(&tmp.v, const_cast<VARIANT*>(&v), 0, VT_R8)))
    return Variant::FromDouble(tmp.v.dblVal);
  VariantClear(&tmp.v);
  if (SUCCEEDED(VariantChangeType(&tmp.v, const_cast<VARIANT*>(&v), 0, VT_BSTR)))
    return Variant(Utf8Of(tmp.v.bstrVal));
  throw EAdoError("The field value has a type that cannot be read.", kErrTypeMismatch, kSourceAdo);
}

void ToVariant(const Variant& value, DataTypeEnum type, Var& out) {
  if (value.IsNull()) {
    out.v.vt = VT_NULL;
    return;
  }
  switch (type) {
    case adDate:
      out.v.vt = VT_DATE;
      out.v.date = value.AsDateTime();
      return;
    case adInteger:
    case adBigInt:
      out.v.vt = VT_I8;
      out.v.llVal = value.AsInt64();
      return;
    case adDouble:
      out.v.vt = VT_R8;
      out.v.dblVal = value.AsDouble();
      return;
    default:
      SetText(out, value.AsText());
      return;
  }
}

class AdoStatement final : public BackendStatement {
 public:
  AdoStatement(Disp command, std::vector<Disp> parameters, std::vector<ParameterSpec> specs)
      : command_(std::move(command)), parameters_(std::move(parameters)), specs_(std::move(specs)) {}

  void Release() noexcept override {
    parameters_.clear();
    command_.Reset();
  }

  void Execute(const std::vector<const Variant*>& values, std::int64_t& affected,
               ResultRows& rows) override {
    if (!command_)
      throw EAdoError("The statement belongs to a closed connection.", kErrNotConnected, kSourceAdo);
    if (values.size() != parameters_.size())
      throw EAdoError("The parameter list changed after the statement was prepared.",
                      kErrInvalidArgument, kSourceAdo);
    for (std::size_t i = 0; i < values.size(); ++i) {
      Var v;
      ToVariant(*values[i], specs_[i].Type, v);
      Put(parameters_[i].Get(), L"Value", &v.v);
    }
    Var count;
    count.v.vt = VT_I4;
    count.v.lVal = -1;
    Var byRef;
    byRef.v.vt = VT_BYREF | VT_VARIANT;
    byRef.v.pvarVal = &count.v;
    Var result;
    Invoke(command_.Get(), L"Execute", DISPATCH_METHOD, {&byRef.v}, &result.v);
    byRef.v.vt = VT_EMPTY;  // the reference is not ours to clear
    Var asInt;
    affected = SUCCEEDED(VariantChangeType(&asInt.v, &count.v, 0, VT_I8)) ? asInt.v.llVal : -1;

    if (result.v.vt != VT_DISPATCH || !result.v.pdispVal) return;
    IDispatch* rs = result.v.pdispVal;
    Var state;
    Get(rs, L"State", state);
    Var open;
    if (FAILED(VariantChangeType(&open.v, &state.v, 0, VT_I4)) || (open.v.lVal & 1) == 0) return;
    affected = -1;
    rows.HasResult = true;
    Disp fields = GetObject(rs, L"Fields");
    Var countVar;
    Get(fields.Get(), L"Count", countVar);
    Var n;
    VariantChangeType(&n.v, &countVar.v, 0, VT_I4);
    const LONG columns = n.v.vt == VT_I4 ? n.v.lVal : 0;
    for (LONG c = 0; c < columns; ++c) {
      Var index;
      SetInt(index, c);
      Disp field = GetObject(fields.Get(), L"Item", {&index.v});
      Var name;
      Get(field.Get(), L"Name", name);
      rows.Names.push_back(name.v.vt == VT_BSTR ? Utf8Of(name.v.bstrVal) : std::string());
    }
    for (;;) {
      Var eof;
      Get(rs, L"EOF", eof);
      if (eof.v.vt == VT_BOOL && eof.v.boolVal) break;
      std::vector<Variant> row;
      for (LONG c = 0; c < columns; ++c) {
        Var index;
        SetInt(index, c);
        Disp field = GetObject(fields.Get(), L"Item", {&index.v});
        Var value;
        Get(field.Get(), L"Value", value);
        row.push_back(FromVariant(value.v));
      }
      rows.Rows.push_back(std::move(row));
      Call(rs, L"MoveNext");
    }
    try {
      Call(rs, L"Close");
    } catch (const EAdoError&) {
    }
  }

 private:
  Disp command_;
  std::vector<Disp> parameters_;
  std::vector<ParameterSpec> specs_;
};

class AdoConnection final : public BackendConnection {
 public:
  explicit AdoConnection(const BackendChoice& choice)
      : connection_(Create(L"ADODB.Connection")), provider_(choice.ProviderName) {
    Var text;
    SetText(text, choice.Target);
    Put(connection_.Get(), L"ConnectionString", &text.v);
  }
  ~AdoConnection() override { Close(); }

  const char* Name() const noexcept override { return "ADO"; }

  void Open() override {
    Call(connection_.Get(), L"Open");
    open_ = true;
    dbms_.clear();
    try {
      Disp props = GetObject(connection_.Get(), L"Properties");
      Var key;
      SetText(key, "DBMS Name");
      Disp prop = GetObject(props.Get(), L"Item", {&key.v});
      Var value;
      Get(prop.Get(), L"Value", value);
      if (value.v.vt == VT_BSTR) dbms_ = Utf8Of(value.v.bstrVal);
    } catch (const EAdoError&) {
      // not every provider reports it; the provider name decides then
    }
    engine_ = EngineFromDbmsName(dbms_);
    if (engine_ == Engine::Unknown) engine_ = EngineFromProvider(provider_);
  }

  void Close() noexcept override {
    if (!open_) return;
    open_ = false;
    try {
      Call(connection_.Get(), L"Close");
    } catch (...) {
    }
  }

  void BeginTrans() override { Call(connection_.Get(), L"BeginTrans"); }
  void CommitTrans() override { Call(connection_.Get(), L"CommitTrans"); }
  void RollbackTrans() override { Call(connection_.Get(), L"RollbackTrans"); }

  Engine GetEngine() const override { return engine_; }
  std::string DbmsName() const override { return dbms_.empty() ? provider_ : dbms_; }

  std::unique_ptr<BackendStatement> Prepare(const std::string& sql,
                                            const std::vector<ParameterSpec>& specs) override {
    Disp command = Create(L"ADODB.Command");
    Var conn;
    conn.v.vt = VT_DISPATCH;
    conn.v.pdispVal = connection_.Get();
    conn.v.pdispVal->AddRef();
    Invoke(command.Get(), L"ActiveConnection", DISPATCH_PROPERTYPUTREF, {&conn.v}, nullptr);
    Var type;
    SetInt(type, adCmdText);
    Put(command.Get(), L"CommandType", &type.v);
    Var text;
    SetText(text, sql);
    Put(command.Get(), L"CommandText", &text.v);
    Disp collection = GetObject(command.Get(), L"Parameters");
    std::vector<Disp> parameters;
    for (const ParameterSpec& s : specs) {
      Var name, ptype, direction, size;
      SetText(name, s.Name);
      SetInt(ptype, s.Type);
      SetInt(direction, s.Direction);
      SetInt(size, s.Size);
      Disp p = GetObject(command.Get(), L"CreateParameter",
                         {&name.v, &ptype.v, &direction.v, &size.v});
      Var arg;
      arg.v.vt = VT_DISPATCH;
      arg.v.pdispVal = p.Get();
      arg.v.pdispVal->AddRef();
      Call(collection.Get(), L"Append", {&arg.v});
      parameters.push_back(std::move(p));
    }
    return std::make_unique<AdoStatement>(std::move(command), std::move(parameters), specs);
  }

 private:
  Disp connection_;
  std::string provider_;
  std::string dbms_;
  Engine engine_ = Engine::Unknown;
  bool open_ = false;
};

}  // namespace

std::unique_ptr<BackendConnection> CreateProviderBackend(const BackendChoice& choice) {
  return std::make_unique<AdoConnection>(choice);
}

}  // namespace ado::detail
