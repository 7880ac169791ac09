// ADO itself, for "Provider=..." connection strings on Windows: "ADODB.Connection" and
// "ADODB.Command" created by programmatic identifier and driven by late-bound IDispatch calls
// (ConnectionString, Open, BeginTrans/CommitTrans/RollbackTrans, Close, Properties("DBMS Name");
// ActiveConnection, CommandType, CommandText, CreateParameter, Parameters.Append, parameter
// Value, Execute with records affected; recordset State, Fields(i).Name/Value, EOF, MoveNext,
// Close). Each object's DISPIDs are looked up once; statements that cannot return rows run with
// adExecuteNoRecords. A failed call's description and source come from EXCEPINFO or, when the
// object answers the HRESULT alone, from its IErrorInfo. The calling thread must have
// initialised COM.
#include <windows.h>
#include <oleauto.h>

#include <cctype>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "AdoBackend.h"

namespace ado::detail {
namespace {

constexpr const char* kSourceAdo = "ADODB";
constexpr LONG kAdExecuteNoRecords = 0x80;

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
  DWORD n = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, static_cast<DWORD>(hr), 0, reinterpret_cast<LPWSTR>(&buf), 0, nullptr);
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

// Description and source of the error object a failed call left on this thread, if the object
// says it reports errors through IErrorInfo. Takes the error object, so none is left behind.
bool PendingErrorInfo(IDispatch* obj, std::string& message, std::string& source) {
  ISupportErrorInfo* support = nullptr;
  if (FAILED(obj->QueryInterface(IID_ISupportErrorInfo, reinterpret_cast<void**>(&support))) ||
      !support)
    return false;
  const bool supported = support->InterfaceSupportsErrorInfo(IID_IDispatch) == S_OK;
  support->Release();
  if (!supported) return false;
  IErrorInfo* info = nullptr;
  if (GetErrorInfo(0, &info) != S_OK || !info) return false;
  BSTR description = nullptr, origin = nullptr;
  info->GetDescription(&description);
  info->GetSource(&origin);
  message = Utf8Of(description);
  source = Utf8Of(origin);
  SysFreeString(description);
  SysFreeString(origin);
  info->Release();
  return true;
}

// The error a failed IDispatch::Invoke reports: EXCEPINFO for DISP_E_EXCEPTION, else the error
// object of the thread, else the system's text for the HRESULT. Frees what `info` holds.
[[noreturn]] void ThrowInvokeError(IDispatch* obj, HRESULT hr, EXCEPINFO& info) {
  if (hr == DISP_E_EXCEPTION && info.pfnDeferredFillIn) info.pfnDeferredFillIn(&info);
  std::string message = Utf8Of(info.bstrDescription);
  std::string source = Utf8Of(info.bstrSource);
  SysFreeString(info.bstrDescription);
  SysFreeString(info.bstrSource);
  SysFreeString(info.bstrHelpFile);
  HRESULT code = hr;
  if (hr == DISP_E_EXCEPTION)
    code = info.scode ? info.scode : static_cast<HRESULT>(info.wCode);
  else
    PendingErrorInfo(obj, message, source);
  if (message.empty()) message = SystemText(code);
  throw EAdoError(message, static_cast<std::int32_t>(code), source.empty() ? kSourceAdo : source);
}

// An owned IDispatch pointer that looks each member's DISPID up once.
class Disp {
 public:
  Disp() = default;
  explicit Disp(IDispatch* p) : p_(p) {}
  ~Disp() { Reset(); }
  Disp(Disp&& o) noexcept : p_(std::exchange(o.p_, nullptr)), ids_(std::move(o.ids_)) {}
  Disp& operator=(Disp&& o) noexcept {
    if (this != &o) {
      Reset();
      p_ = std::exchange(o.p_, nullptr);
      ids_ = std::move(o.ids_);
    }
    return *this;
  }
  void Reset() noexcept {
    if (p_) p_->Release();
    p_ = nullptr;
    ids_.clear();
  }
  IDispatch* Get() const noexcept { return p_; }
  explicit operator bool() const noexcept { return p_ != nullptr; }

  DISPID Id(const wchar_t* name) {
    if (!p_) throw EAdoError("Object is not set.", kErrNotConnected, kSourceAdo);
    for (const auto& [known, id] : ids_)
      if (known == name || wcscmp(known, name) == 0) return id;
    DISPID id = 0;
    LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
    HRESULT hr = p_->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id);
    if (FAILED(hr))
      throw EAdoError(SystemText(hr) + " (" + Utf8Of(name, wcslen(name)) + ")",
                      static_cast<std::int32_t>(hr), kSourceAdo);
    ids_.emplace_back(name, id);
    return id;
  }

 private:
  IDispatch* p_ = nullptr;
  std::vector<std::pair<const wchar_t*, DISPID>> ids_;
};

// Calls member `name` of `obj`; `args` in their natural order (reversed here, as IDispatch
// wants). Failures become EAdoError with the provider's description, HRESULT and source.
void Invoke(Disp& obj, const wchar_t* name, WORD flags, std::vector<VARIANT*> args,
            VARIANT* result) {
  const DISPID id = obj.Id(name);
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
  HRESULT hr =
      obj.Get()->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, flags, &params, result, &info, &argErr);
  if (FAILED(hr)) ThrowInvokeError(obj.Get(), hr, info);
}

void Call(Disp& obj, const wchar_t* name, std::vector<VARIANT*> args = {}) {
  Var ignored;
  Invoke(obj, name, DISPATCH_METHOD, std::move(args), &ignored.v);
}

void Get(Disp& obj, const wchar_t* name, Var& out, std::vector<VARIANT*> args = {}) {
  Invoke(obj, name, DISPATCH_METHOD | DISPATCH_PROPERTYGET, std::move(args), &out.v);
}

void Put(Disp& obj, const wchar_t* name, VARIANT* value) {
  Invoke(obj, name, DISPATCH_PROPERTYPUT, {value}, nullptr);
}

Disp GetObject(Disp& obj, const wchar_t* name, std::vector<VARIANT*> args = {}) {
  Var v;
  Get(obj, name, v, std::move(args));
  if (v.v.vt != VT_DISPATCH || !v.v.pdispVal)
    throw EAdoError("The automation object returned no object.", kErrTypeMismatch, kSourceAdo);
  return Disp(std::exchange(v.v.pdispVal, nullptr));  // the reference moves to the Disp
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
    case adInteger: {
      // A 32-bit parameter gets a 32-bit variant; a value out of range is left for the
      // provider to refuse.
      const std::int64_t n = value.AsInt64();
      if (n >= INT32_MIN && n <= INT32_MAX) {
        SetInt(out, static_cast<LONG>(n));
        return;
      }
      out.v.vt = VT_I8;
      out.v.llVal = n;
      return;
    }
    case adBigInt:
      out.v.vt = VT_I8;
      out.v.llVal = value.AsInt64();
      return;
    case adDouble:
      out.v.vt = VT_R8;
      out.v.dblVal = value.AsDouble();
      return;
    default: SetText(out, value.AsText()); return;
  }
}

// Whether a statement can return rows. Data changes and schema statements never do; they run
// with adExecuteNoRecords so the provider builds no recordset for them.
bool CanReturnRows(const std::string& sql) {
  std::size_t i = sql.find_first_not_of(" \t\r\n(");
  std::string word;
  for (; i < sql.size() && std::isalpha(static_cast<unsigned char>(sql[i])); ++i)
    word.push_back(static_cast<char>(std::toupper(static_cast<unsigned char>(sql[i]))));
  for (const char* k : {"INSERT", "UPDATE", "DELETE", "CREATE", "DROP", "ALTER", "TRUNCATE"})
    if (word == k) return false;
  return true;
}

// An open recordset returned by Execute, closed on every way out.
class OpenRecordset {
 public:
  explicit OpenRecordset(Disp rs) : rs_(std::move(rs)) {}
  ~OpenRecordset() {
    try {
      Call(rs_, L"Close");
    } catch (const EAdoError&) {
    }
  }
  OpenRecordset(const OpenRecordset&) = delete;
  OpenRecordset& operator=(const OpenRecordset&) = delete;

  // Reads every row into `rows`. The Field objects are fetched once: they follow the current
  // record.
  void ReadAll(ResultRows& rows) {
    Disp fields = GetObject(rs_, L"Fields");
    Var countVar;
    Get(fields, L"Count", countVar);
    Var n;
    VariantChangeType(&n.v, &countVar.v, 0, VT_I4);
    const LONG columns = n.v.vt == VT_I4 ? n.v.lVal : 0;
    std::vector<Disp> columnFields;
    for (LONG c = 0; c < columns; ++c) {
      Var index;
      SetInt(index, c);
      columnFields.push_back(GetObject(fields, L"Item", {&index.v}));
      Var name;
      Get(columnFields.back(), L"Name", name);
      rows.Names.push_back(name.v.vt == VT_BSTR ? Utf8Of(name.v.bstrVal) : std::string());
    }
    for (;;) {
      Var eof;
      Get(rs_, L"EOF", eof);
      if (eof.v.vt == VT_BOOL && eof.v.boolVal) break;
      std::vector<Variant> row;
      for (Disp& field : columnFields) {
        Var value;
        Get(field, L"Value", value);
        row.push_back(FromVariant(value.v));
      }
      rows.Rows.push_back(std::move(row));
      Call(rs_, L"MoveNext");
    }
  }

 private:
  Disp rs_;
};

class AdoStatement final : public BackendStatement {
 public:
  AdoStatement(Disp command, std::vector<Disp> parameters, std::vector<ParameterSpec> specs,
               bool canReturnRows)
      : command_(std::move(command)),
        parameters_(std::move(parameters)),
        specs_(std::move(specs)),
        canReturnRows_(canReturnRows) {}

  void Release() noexcept override {
    parameters_.clear();
    command_.Reset();
  }

  void Execute(const std::vector<const Variant*>& values, std::int64_t& affected,
               ResultRows& rows) override {
    if (!command_)
      throw EAdoError("The statement belongs to a closed connection.", kErrNotConnected,
                      kSourceAdo);
    if (values.size() != parameters_.size())
      throw EAdoError("The parameter list changed after the statement was prepared.",
                      kErrInvalidArgument, kSourceAdo);
    for (std::size_t i = 0; i < values.size(); ++i) {
      Var v;
      ToVariant(*values[i], specs_[i].Type, v);
      Put(parameters_[i], L"Value", &v.v);
    }
    // Execute(RecordsAffected, Parameters, Options): the count comes back through a
    // by-reference variant; the parameters are the command's own.
    Var count;
    count.v.vt = VT_I4;
    count.v.lVal = -1;
    VARIANT byRef;
    byRef.vt = VT_BYREF | VT_VARIANT;  // not ours to clear
    byRef.pvarVal = &count.v;
    Var missing;
    missing.v.vt = VT_ERROR;
    missing.v.scode = DISP_E_PARAMNOTFOUND;
    Var options;
    SetInt(options, canReturnRows_ ? LONG{adCmdText} : LONG{adCmdText} | kAdExecuteNoRecords);
    Var result;
    Invoke(command_, L"Execute", DISPATCH_METHOD, {&byRef, &missing.v, &options.v}, &result.v);
    Var asInt;
    affected = SUCCEEDED(VariantChangeType(&asInt.v, &count.v, 0, VT_I8)) ? asInt.v.llVal : -1;

    if (result.v.vt != VT_DISPATCH || !result.v.pdispVal) return;
    Disp rs(std::exchange(result.v.pdispVal, nullptr));
    Var state;
    Get(rs, L"State", state);
    Var open;
    if (FAILED(VariantChangeType(&open.v, &state.v, 0, VT_I4)) || (open.v.lVal & 1) == 0) return;
    affected = -1;
    rows.HasResult = true;
    OpenRecordset(std::move(rs)).ReadAll(rows);
  }

 private:
  Disp command_;
  std::vector<Disp> parameters_;
  std::vector<ParameterSpec> specs_;
  bool canReturnRows_;
};

class AdoConnection final : public BackendConnection {
 public:
  explicit AdoConnection(const BackendChoice& choice)
      : connection_(Create(L"ADODB.Connection")), provider_(choice.ProviderName) {
    Var text;
    SetText(text, choice.Target);
    Put(connection_, L"ConnectionString", &text.v);
  }
  ~AdoConnection() override { Close(); }

  const char* Name() const noexcept override { return "ADO"; }

  void Open() override {
    Call(connection_, L"Open");
    open_ = true;
    dbms_.clear();
    try {
      Disp props = GetObject(connection_, L"Properties");
      Var key;
      SetText(key, "DBMS Name");
      Disp prop = GetObject(props, L"Item", {&key.v});
      Var value;
      Get(prop, L"Value", value);
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
      Call(connection_, L"Close");
    } catch (...) {
    }
  }

  void BeginTrans() override { Call(connection_, L"BeginTrans"); }
  void CommitTrans() override { Call(connection_, L"CommitTrans"); }
  void RollbackTrans() override { Call(connection_, L"RollbackTrans"); }

  Engine GetEngine() const override { return engine_; }
  std::string DbmsName() const override { return dbms_.empty() ? provider_ : dbms_; }

  std::unique_ptr<BackendStatement> Prepare(const std::string& sql,
                                            const std::vector<ParameterSpec>& specs) override {
    Disp command = Create(L"ADODB.Command");
    Var conn;
    conn.v.vt = VT_DISPATCH;
    conn.v.pdispVal = connection_.Get();
    conn.v.pdispVal->AddRef();
    Invoke(command, L"ActiveConnection", DISPATCH_PROPERTYPUTREF, {&conn.v}, nullptr);
    Var type;
    SetInt(type, adCmdText);
    Put(command, L"CommandType", &type.v);
    Var text;
    SetText(text, sql);
    Put(command, L"CommandText", &text.v);
    Disp collection = GetObject(command, L"Parameters");
    std::vector<Disp> parameters;
    for (const ParameterSpec& s : specs) {
      Var name, ptype, direction, size;
      SetText(name, s.Name);
      SetInt(ptype, s.Type);
      SetInt(direction, s.Direction);
      SetInt(size, s.Size);
      Disp p = GetObject(command, L"CreateParameter", {&name.v, &ptype.v, &direction.v, &size.v});
      Var arg;
      arg.v.vt = VT_DISPATCH;
      arg.v.pdispVal = p.Get();
      arg.v.pdispVal->AddRef();
      Call(collection, L"Append", {&arg.v});
      parameters.push_back(std::move(p));
    }
    return std::make_unique<AdoStatement>(std::move(command), std::move(parameters), specs,
                                          CanReturnRows(sql));
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
