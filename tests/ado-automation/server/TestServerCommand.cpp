// The test server's Command (ActiveConnection, CommandType, CommandText, CreateParameter,
// Parameters, Execute), its Parameters collection and Parameter objects. Parameter values are
// converted to the declared type as ADO converts them, then bound to the SQLite statement;
// date-times become ISO-8601 text to the millisecond.
#include <cmath>
#include <cstdio>

#include "TestServer.h"

namespace adotest {
namespace {

constexpr long adExecuteNoRecords = 0x80;
constexpr HRESULT kMultipleStep = static_cast<HRESULT>(0x80040E21);
constexpr HRESULT kNoValue = static_cast<HRESULT>(0x80040E10);
constexpr HRESULT kTruncated = static_cast<HRESULT>(0x80040E57);

// An OLE date (days since 1899-12-30, the fraction the time of day) as "YYYY-MM-DD hh:mm:ss.fff".
std::string DateText(double serial) {
  double whole = serial < 0 ? std::ceil(serial) : std::floor(serial);
  long long ms = std::llround(std::fabs(serial - whole) * 86400000.0);
  long long days = static_cast<long long>(whole);
  if (ms >= 86400000) {
    ms -= 86400000;
    ++days;
  }
  // Civil date from days since 1970-01-01 (proleptic Gregorian).
  long long z = days - 25569 + 719468;
  long long era = (z >= 0 ? z : z - 146096) / 146097;
  long long doe = z - era * 146097;
  long long yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  long long doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  long long mp = (5 * doy + 2) / 153;
  long long day = doy - (153 * mp + 2) / 5 + 1;
  long long month = mp < 10 ? mp + 3 : mp - 9;
  long long year = yoe + era * 400 + (month <= 2);
  char buf[48];
  std::snprintf(buf, sizeof buf, "%04lld-%02lld-%02lld %02lld:%02lld:%02lld.%03lld", year, month,
                day, ms / 3600000, ms / 60000 % 60, ms / 1000 % 60, ms % 1000);
  return buf;
}

const std::vector<DispObject::Member> kParameterMembers = {
    {L"Value", 0}, {L"Name", 1}, {L"Type", 2}, {L"Direction", 3}, {L"Size", 4}};

class Parameter final : public DispObject {
 public:
  Parameter() : DispObject(kParameterMembers) { VariantInit(&value_); }
  ~Parameter() override { VariantClear(&value_); }

  std::wstring Name;
  long Type = 0, Direction = 1, Size = 0;

  void SetValue(VARIANT* v) {
    VariantClear(&value_);
    if (FAILED(VariantCopyInd(&value_, v)))
      Throw(kMultipleStep, "Multiple-step operation generated errors. Check each status value.");
  }

  // Binds the value, converted to the declared type, to parameter `index` of `st`.
  void Bind(sqlite3_stmt* st, int index) {
    if (value_.vt == VT_EMPTY)
      Throw(kNoValue, "No value given for one or more required parameters.");
    if (value_.vt == VT_NULL) {
      sqlite3_bind_null(st, index);
      return;
    }
    VARTYPE want = VT_BSTR;
    switch (Type) {
      case 3: want = VT_I4; break;    // adInteger
      case 20: want = VT_I8; break;   // adBigInt
      case 5: want = VT_R8; break;    // adDouble
      case 7: want = VT_DATE; break;  // adDate
    }
    VARIANT v;
    VariantInit(&v);
    if (FAILED(VariantChangeType(&v, &value_, 0, want)))
      Throw(kMultipleStep, "Multiple-step operation generated errors. Check each status value.");
    switch (want) {
      case VT_I4: sqlite3_bind_int64(st, index, v.lVal); break;
      case VT_I8: sqlite3_bind_int64(st, index, v.llVal); break;
      case VT_R8: sqlite3_bind_double(st, index, v.dblVal); break;
      case VT_DATE: {
        std::string text = DateText(v.date);
        sqlite3_bind_text(st, index, text.c_str(), -1, SQLITE_TRANSIENT);
        break;
      }
      default: {
        UINT n = SysStringLen(v.bstrVal);
        if (Size > 0 && n > static_cast<UINT>(Size)) {
          VariantClear(&v);
          Throw(kTruncated, "String or binary data would be truncated.");
        }
        sqlite3_bind_text16(st, index, v.bstrVal, static_cast<int>(n * sizeof(wchar_t)),
                            SQLITE_TRANSIENT);
      }
    }
    VariantClear(&v);
  }

 protected:
  void Call(DISPID id, WORD flags, std::vector<VARIANT*>& args, VARIANT* result) override {
    if (flags & DISPATCH_PROPERTYPUT) {
      VARIANT* v = args.back();
      switch (id) {
        case 0: return SetValue(v);
        case 1: Name = Wide(ArgText(v)); return;
        case 2: Type = ArgLong(v); return;
        case 3: Direction = ArgLong(v); return;
        case 4: Size = ArgLong(v); return;
      }
    }
    switch (id) {
      case 0: VariantCopy(result, &value_); return;
      case 1: return SetText(result, Utf8(Name.c_str()));
      default: result->vt = VT_I4; result->lVal = id == 2 ? Type : id == 3 ? Direction : Size;
    }
  }

 private:
  VARIANT value_;
};

const std::vector<DispObject::Member> kParametersMembers = {
    {L"Item", 0}, {L"Append", 1}, {L"Count", 2}};

class Parameters final : public DispObject {
 public:
  Parameters() : DispObject(kParametersMembers) {}
  ~Parameters() override {
    for (IDispatch* p : items_) p->Release();
  }

  const std::vector<IDispatch*>& Items() const { return items_; }

 protected:
  void Call(DISPID id, WORD, std::vector<VARIANT*>& args, VARIANT* result) override {
    if (id == 2) {
      result->vt = VT_I4;
      result->lVal = static_cast<LONG>(items_.size());
      return;
    }
    if (args.empty()) Throw(DISP_E_BADPARAMCOUNT, "An argument is missing.");
    VARIANT* a = Deref(args[0]);
    if (id == 1) {
      if (a->vt != VT_DISPATCH || !ObjectOf<Parameter>(a->pdispVal))
        Throw(static_cast<HRESULT>(0x800A0BB9), "The object is not a Parameter of this server.");
      a->pdispVal->AddRef();
      items_.push_back(a->pdispVal);
      return;
    }
    long i = ArgLong(a);
    if (i < 0 || i >= static_cast<long>(items_.size()))
      Throw(static_cast<HRESULT>(0x800A0CC1),
            "Item cannot be found in the collection "
            "corresponding to the requested name or ordinal.",
            "ADODB.Parameters");
    items_[i]->AddRef();
    SetDisp(result, items_[i]);
  }

 private:
  std::vector<IDispatch*> items_;
};

enum : DISPID {
  kActiveConnection = 1,
  kCommandType,
  kCommandText,
  kCreateParameter,
  kParameters,
  kExecute
};
const std::vector<DispObject::Member> kCommandMembers = {{L"ActiveConnection", kActiveConnection},
                                                         {L"CommandType", kCommandType},
                                                         {L"CommandText", kCommandText},
                                                         {L"CreateParameter", kCreateParameter},
                                                         {L"Parameters", kParameters},
                                                         {L"Execute", kExecute}};

class Command final : public DispObject {
 public:
  Command() : DispObject(kCommandMembers), parameters_(new Parameters()) {}
  ~Command() override {
    if (connection_) connection_->Release();
    parameters_->Release();
  }

 protected:
  void Call(DISPID id, WORD flags, std::vector<VARIANT*>& args, VARIANT* result) override {
    const bool put = (flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)) != 0;
    switch (id) {
      case kActiveConnection: {
        if (!put) {
          if (connection_) connection_->AddRef();
          return SetDisp(result, connection_);
        }
        VARIANT* v = Deref(args.back());
        if (v->vt != VT_DISPATCH)
          Throw(static_cast<HRESULT>(0x800A0BB9), "Only a Connection object can be set here.");
        if (v->pdispVal) v->pdispVal->AddRef();
        if (connection_) connection_->Release();
        connection_ = v->pdispVal;
        return;
      }
      case kCommandType:
        if (put) {
          type_ = ArgLong(args.back());
        } else {
          result->vt = VT_I4;
          result->lVal = type_;
        }
        return;
      case kCommandText:
        if (put)
          text_ = ArgText(args.back());
        else
          SetText(result, text_);
        return;
      case kCreateParameter: {
        auto* p = new Parameter();
        try {
          if (args.size() > 0 && !Missing(Deref(args[0]))) p->Name = Wide(ArgText(args[0]));
          if (args.size() > 1 && !Missing(Deref(args[1]))) p->Type = ArgLong(args[1]);
          if (args.size() > 2 && !Missing(Deref(args[2]))) p->Direction = ArgLong(args[2]);
          if (args.size() > 3 && !Missing(Deref(args[3]))) p->Size = ArgLong(args[3]);
          if (args.size() > 4 && !Missing(Deref(args[4]))) p->SetValue(args[4]);
        } catch (...) {
          p->Release();
          throw;
        }
        return SetDisp(result, p);
      }
      case kParameters: parameters_->AddRef(); return SetDisp(result, parameters_);
      case kExecute: return Execute(args, result);
    }
  }

 private:
  void Execute(std::vector<VARIANT*>& args, VARIANT* result) {
    sqlite3* db = DatabaseOf(connection_);
    MaybeFail(L"Execute", text_);
    if (text_.empty())
      Throw(static_cast<HRESULT>(0x80040E0C), "Command text was not set for the command object.");
    if (args.size() > 1 && !Missing(Deref(args[1])))
      Throw(static_cast<HRESULT>(0x800A0BB9),
            "Parameters as an Execute argument are not supported.");
    const long options = args.size() > 2 && !Missing(Deref(args[2])) ? ArgLong(args[2]) : -1;
    const bool noRecords = options != -1 && (options & adExecuteNoRecords) != 0;
    ++Counts().Executes;
    if (noRecords) ++Counts().NoRecordsExecutes;

    sqlite3_stmt* st = nullptr;
    if (sqlite3_prepare_v2(db, text_.c_str(), -1, &st, nullptr) != SQLITE_OK)
      Throw(static_cast<HRESULT>(0x80040E14), sqlite3_errmsg(db));
    std::vector<std::wstring> names;
    std::vector<std::vector<VARIANT>> rows;
    auto cleanup = [&] {
      sqlite3_finalize(st);
      for (auto& row : rows)
        for (VARIANT& v : row) VariantClear(&v);
    };
    try {
      const auto& items = parameters_->Items();
      if (static_cast<int>(items.size()) != sqlite3_bind_parameter_count(st))
        Throw(kNoValue, "No value given for one or more required parameters.");
      for (size_t i = 0; i < items.size(); ++i)
        ObjectOf<Parameter>(items[i])->Bind(st, static_cast<int>(i + 1));
      const int columns = sqlite3_column_count(st);
      for (int c = 0; c < columns; ++c)
        names.push_back(static_cast<const wchar_t*>(sqlite3_column_name16(st, c)));
      int rc;
      while ((rc = sqlite3_step(st)) == SQLITE_ROW) {
        rows.emplace_back(columns);
        for (int c = 0; c < columns; ++c) ReadColumn(st, c, rows.back()[c]);
      }
      if (rc != SQLITE_DONE) Throw(static_cast<HRESULT>(0x80040E14), sqlite3_errmsg(db));
    } catch (...) {
      cleanup();
      throw;
    }
    sqlite3_finalize(st);
    const long affected = names.empty() ? sqlite3_changes(db) : -1;
    if (!args.empty()) {
      VARIANT* out = args[0];
      if (out->vt == (VT_BYREF | VT_VARIANT)) {
        VariantClear(out->pvarVal);
        out->pvarVal->vt = VT_I4;
        out->pvarVal->lVal = affected;
      } else if (out->vt == (VT_BYREF | VT_I4)) {
        *out->plVal = affected;
      }
    }
    if (noRecords) {
      for (auto& row : rows)
        for (VARIANT& v : row) VariantClear(&v);
      return SetDisp(result, nullptr);
    }
    if (names.empty()) ++Counts().EmptyRecordsets;
    const bool open = !names.empty();
    SetDisp(result, NewRecordset(std::move(names), std::move(rows), open));
  }

  static void ReadColumn(sqlite3_stmt* st, int c, VARIANT& v) {
    VariantInit(&v);
    switch (sqlite3_column_type(st, c)) {
      case SQLITE_NULL: v.vt = VT_NULL; return;
      case SQLITE_INTEGER: {
        sqlite3_int64 n = sqlite3_column_int64(st, c);
        if (n >= INT32_MIN && n <= INT32_MAX)
          v.vt = VT_I4, v.lVal = static_cast<LONG>(n);
        else
          v.vt = VT_I8, v.llVal = n;
        return;
      }
      case SQLITE_FLOAT: v.vt = VT_R8, v.dblVal = sqlite3_column_double(st, c); return;
      default: {
        const void* text = sqlite3_column_text16(st, c);
        int bytes = sqlite3_column_bytes16(st, c);
        v.vt = VT_BSTR;
        v.bstrVal = SysAllocStringLen(static_cast<const wchar_t*>(text), bytes / sizeof(wchar_t));
      }
    }
  }

  IDispatch* connection_ = nullptr;
  Parameters* parameters_;
  long type_ = 1;
  std::string text_;
};

}  // namespace

IDispatch* NewCommand() { return new Command(); }

}  // namespace adotest
