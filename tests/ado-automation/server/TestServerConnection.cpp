// The test server's Connection (ConnectionString, Open, Close, BeginTrans, CommitTrans,
// RollbackTrans, State, Properties) and its Properties collection ("DBMS Name").
#include <cstdlib>

#include "TestServer.h"

namespace adotest {
namespace {

constexpr HRESULT kObjectOpen = static_cast<HRESULT>(0x800A0E79);
constexpr HRESULT kObjectClosed = static_cast<HRESULT>(0x800A0E78);
constexpr HRESULT kNotFound = static_cast<HRESULT>(0x800A0CC1);

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
  return s;
}

std::string Trim(const std::string& s) {
  size_t b = s.find_first_not_of(" \t"), e = s.find_last_not_of(" \t");
  return b == std::string::npos ? std::string() : s.substr(b, e - b + 1);
}

// "key=value;..." with optional {braced} values; keys lower-cased.
std::map<std::string, std::string> ParsePairs(const std::string& text) {
  std::map<std::string, std::string> pairs;
  size_t i = 0;
  while (i < text.size()) {
    size_t eq = text.find('=', i);
    if (eq == std::string::npos) break;
    std::string key = Lower(Trim(text.substr(i, eq - i)));
    size_t v = text.find_first_not_of(" \t", eq + 1);
    std::string value;
    if (v != std::string::npos && text[v] == '{') {
      size_t close = text.find('}', v);
      value = text.substr(v + 1, close == std::string::npos ? std::string::npos : close - v - 1);
      i = close == std::string::npos ? text.size() : text.find(';', close);
    } else {
      i = text.find(';', eq);
      value = Trim(text.substr(eq + 1, i == std::string::npos ? std::string::npos : i - eq - 1));
    }
    if (!pairs.count(key)) pairs[key] = value;
    i = i == std::string::npos ? text.size() : i + 1;
  }
  return pairs;
}

const std::vector<DispObject::Member> kPropertyMembers = {{L"Name", 1}, {L"Value", 0}};

class Property final : public DispObject {
 public:
  Property(std::string name, std::string value)
      : DispObject(kPropertyMembers), name_(std::move(name)), value_(std::move(value)) {}

 protected:
  void Call(DISPID id, WORD flags, std::vector<VARIANT*>&, VARIANT* result) override {
    if (flags & DISPATCH_PROPERTYPUT) Throw(DISP_E_MEMBERNOTFOUND, "The property is read-only.");
    SetText(result, id == 1 ? name_ : value_);
  }

 private:
  std::string name_, value_;
};

const std::vector<DispObject::Member> kPropertiesMembers = {{L"Item", 0}, {L"Count", 1}};

class Properties final : public DispObject {
 public:
  Properties() : DispObject(kPropertiesMembers) {}

 protected:
  void Call(DISPID id, WORD, std::vector<VARIANT*>& args, VARIANT* result) override {
    if (id == 1) {
      result->vt = VT_I4;
      result->lVal = 1;
      return;
    }
    if (args.empty()) Throw(DISP_E_BADPARAMCOUNT, "Item needs an index or a name.");
    VARIANT* key = Deref(args[0]);
    if ((key->vt == VT_BSTR && _wcsicmp(key->bstrVal, L"DBMS Name") == 0) ||
        (key->vt != VT_BSTR && ArgLong(key) == 0)) {
      SetDisp(result, new Property("DBMS Name", "SQLite"));
      return;
    }
    Throw(kNotFound,
          "Item cannot be found in the collection corresponding to the requested name "
          "or ordinal.",
          "ADODB.Properties");
  }
};

enum : DISPID {
  kConnectionString = 1,
  kOpen,
  kClose,
  kBeginTrans,
  kCommitTrans,
  kRollbackTrans,
  kState,
  kProperties
};
const std::vector<DispObject::Member> kConnectionMembers = {
    {L"ConnectionString", kConnectionString},
    {L"Open", kOpen},
    {L"Close", kClose},
    {L"BeginTrans", kBeginTrans},
    {L"CommitTrans", kCommitTrans},
    {L"RollbackTrans", kRollbackTrans},
    {L"State", kState},
    {L"Properties", kProperties}};

class Connection final : public DispObject {
 public:
  Connection() : DispObject(kConnectionMembers) {}
  ~Connection() override {
    if (db_) sqlite3_close_v2(db_);
  }

  sqlite3* Database() const { return db_; }

 protected:
  void Call(DISPID id, WORD flags, std::vector<VARIANT*>& args, VARIANT* result) override {
    const bool put = (flags & DISPATCH_PROPERTYPUT) != 0;
    switch (id) {
      case kConnectionString:
        if (!put) return SetText(result, text_);
        if (db_)
          Throw(kObjectOpen, "Operation is not allowed when the object is open.",
                "ADODB.Connection");
        SetConnectionString(ArgText(args.back()));
        MaybeFail(L"ConnectionString");
        return;
      case kOpen:
        if (db_)
          Throw(kObjectOpen, "Operation is not allowed when the object is open.",
                "ADODB.Connection");
        if (!args.empty() && !Missing(Deref(args[0]))) SetConnectionString(ArgText(args[0]));
        return Open();
      case kClose:
        Require();
        sqlite3_close_v2(db_);
        db_ = nullptr;
        return;
      case kBeginTrans:
        Exec("BEGIN");
        if (result) {
          result->vt = VT_I4;
          result->lVal = 1;
        }
        return;
      case kCommitTrans: return Exec("COMMIT");
      case kRollbackTrans: return Exec("ROLLBACK");
      case kState:
        result->vt = VT_I4;
        result->lVal = db_ ? 1 : 0;
        return;
      case kProperties: return SetDisp(result, new Properties());
    }
  }

 private:
  void SetConnectionString(const std::string& text) {
    text_ = text;
    auto pairs = ParsePairs(text);
    path_ = pairs["data source"];
    create_ = Lower(pairs["create"]) == "yes";
    FailPlan plan;
    plan.Member = pairs["fail"];
    size_t at = plan.Member.find('@');
    if (at != std::string::npos) {
      plan.Nth = std::atol(plan.Member.c_str() + at + 1);
      plan.Member.resize(at);
    }
    plan.SqlPrefix = pairs["failsql"];
    if (!pairs["failcode"].empty())
      plan.Code = static_cast<HRESULT>(std::strtoll(pairs["failcode"].c_str(), nullptr, 0));
    if (!pairs["failsource"].empty()) plan.Source = pairs["failsource"];
    plan.Text = pairs["failtext"];
    plan.Raw = Lower(pairs["failmode"]) == "raw";
    plan.Deferred = Lower(pairs["failmode"]) == "deferred";
    Plan() = plan;
    if (!pairs["counts"].empty()) SetCountsPath(pairs["counts"]);
  }

  void Open() {
    int flags = SQLITE_OPEN_READWRITE | (create_ ? SQLITE_OPEN_CREATE : 0);
    sqlite3* db = nullptr;
    int rc = path_.empty() ? SQLITE_CANTOPEN : sqlite3_open_v2(path_.c_str(), &db, flags, nullptr);
    if (rc != SQLITE_OK) {
      std::string why = db ? sqlite3_errmsg(db) : "no database file named";
      if (db) sqlite3_close_v2(db);
      // Like many providers, the message quotes the connection string it was given.
      Throw(E_FAIL, "Cannot open the database of \"" + text_ + "\": " + why + ".");
    }
    db_ = db;
  }

  void Require() const {
    if (!db_)
      Throw(kObjectClosed, "Operation is not allowed when the object is closed.",
            "ADODB.Connection");
  }

  void Exec(const char* sql) {
    Require();
    char* error = nullptr;
    if (sqlite3_exec(db_, sql, nullptr, nullptr, &error) != SQLITE_OK) {
      std::string text = error ? error : "unknown error";
      sqlite3_free(error);
      Throw(static_cast<HRESULT>(0x8004D00E), text);
    }
  }

  std::string text_, path_;
  bool create_ = false;
  sqlite3* db_ = nullptr;
};

}  // namespace

IDispatch* NewConnection() { return new Connection(); }

sqlite3* DatabaseOf(IDispatch* connection) {
  Connection* c = ObjectOf<Connection>(connection);
  if (!c || !c->Database())
    Throw(static_cast<HRESULT>(0x800A0E7D),
          "The connection cannot be used to perform this operation. It is either closed or "
          "invalid in this context.",
          "ADODB.Command");
  return c->Database();
}

}  // namespace adotest
