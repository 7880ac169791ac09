// The test server's Recordset (State, EOF, MoveNext, Close, Fields), Fields collection (Count,
// Item) and Field (Name, Value) over rows read when the command executed.
#include "TestServer.h"

namespace adotest {
namespace {

constexpr HRESULT kClosed = static_cast<HRESULT>(0x800A0E78);
constexpr HRESULT kNoCurrent = static_cast<HRESULT>(0x800A0BCD);
constexpr HRESULT kNotFound = static_cast<HRESULT>(0x800A0CC1);

enum : DISPID { kState = 1, kEof, kMoveNext, kClose, kFields };
const std::vector<DispObject::Member> kRecordsetMembers = {{L"State", kState},
                                                           {L"EOF", kEof},
                                                           {L"MoveNext", kMoveNext},
                                                           {L"Close", kClose},
                                                           {L"Fields", kFields}};

class Recordset final : public DispObject {
 public:
  Recordset(std::vector<std::wstring> names, std::vector<std::vector<VARIANT>> rows, bool open)
      : DispObject(kRecordsetMembers),
        names_(std::move(names)),
        rows_(std::move(rows)),
        open_(open) {}
  ~Recordset() override { Clear(); }

  const std::vector<std::wstring>& Names() const { return names_; }

  // The value of column `c` in the current row.
  const VARIANT& Value(size_t c) const {
    Require();
    if (pos_ >= rows_.size())
      Throw(kNoCurrent,
            "Either BOF or EOF is True, or the current record has been deleted. "
            "Requested operation requires a current record.",
            "ADODB.Field");
    return rows_[pos_][c];
  }

  void Require() const {
    if (!open_)
      Throw(kClosed, "Operation is not allowed when the object is closed.", "ADODB.Recordset");
  }

 protected:
  void Call(DISPID id, WORD, std::vector<VARIANT*>&, VARIANT* result) override;

 private:
  void Clear() {
    for (auto& row : rows_)
      for (VARIANT& v : row) VariantClear(&v);
    rows_.clear();
  }

  std::vector<std::wstring> names_;
  std::vector<std::vector<VARIANT>> rows_;
  size_t pos_ = 0;
  bool open_;
};

const std::vector<DispObject::Member> kFieldMembers = {{L"Value", 0}, {L"Name", 1}};

class Field final : public DispObject {
 public:
  Field(Recordset* rs, size_t column) : DispObject(kFieldMembers), rs_(rs), column_(column) {
    rs_->AddRef();
  }
  ~Field() override { rs_->Release(); }

 protected:
  void Call(DISPID id, WORD flags, std::vector<VARIANT*>&, VARIANT* result) override {
    if (flags & DISPATCH_PROPERTYPUT) Throw(DISP_E_MEMBERNOTFOUND, "The field is read-only here.");
    if (id == 1) return SetText(result, Utf8(rs_->Names()[column_].c_str()));
    VariantCopy(result, const_cast<VARIANT*>(&rs_->Value(column_)));
  }

 private:
  Recordset* rs_;
  size_t column_;
};

const std::vector<DispObject::Member> kFieldsMembers = {{L"Item", 0}, {L"Count", 1}};

class Fields final : public DispObject {
 public:
  explicit Fields(Recordset* rs) : DispObject(kFieldsMembers), rs_(rs) { rs_->AddRef(); }
  ~Fields() override { rs_->Release(); }

 protected:
  void Call(DISPID id, WORD, std::vector<VARIANT*>& args, VARIANT* result) override {
    rs_->Require();
    const auto& names = rs_->Names();
    if (id == 1) {
      result->vt = VT_I4;
      result->lVal = static_cast<LONG>(names.size());
      return;
    }
    if (args.empty()) Throw(DISP_E_BADPARAMCOUNT, "Item needs an index or a name.");
    VARIANT* key = Deref(args[0]);
    long index = -1;
    if (key->vt == VT_BSTR) {
      for (size_t i = 0; i < names.size(); ++i)
        if (_wcsicmp(names[i].c_str(), key->bstrVal) == 0) index = static_cast<long>(i);
    } else {
      index = ArgLong(key);
    }
    if (index < 0 || index >= static_cast<long>(names.size()))
      Throw(kNotFound,
            "Item cannot be found in the collection corresponding to the requested "
            "name or ordinal.",
            "ADODB.Fields");
    SetDisp(result, new Field(rs_, static_cast<size_t>(index)));
  }

 private:
  Recordset* rs_;
};

void Recordset::Call(DISPID id, WORD, std::vector<VARIANT*>&, VARIANT* result) {
  switch (id) {
    case kState:
      result->vt = VT_I4;
      result->lVal = open_ ? 1 : 0;
      return;
    case kEof:
      Require();
      result->vt = VT_BOOL;
      result->boolVal = pos_ >= rows_.size() ? VARIANT_TRUE : VARIANT_FALSE;
      return;
    case kMoveNext:
      Require();
      if (pos_ >= rows_.size())
        Throw(kNoCurrent,
              "Either BOF or EOF is True, or the current record has been deleted. "
              "Requested operation requires a current record.",
              "ADODB.Recordset");
      ++pos_;
      return;
    case kClose:
      Require();
      open_ = false;
      Clear();
      return;
    case kFields: SetDisp(result, new Fields(this)); return;
  }
}

}  // namespace

IDispatch* NewRecordset(std::vector<std::wstring> names, std::vector<std::vector<VARIANT>> rows,
                        bool open) {
  return new Recordset(std::move(names), std::move(rows), open);
}

}  // namespace adotest
