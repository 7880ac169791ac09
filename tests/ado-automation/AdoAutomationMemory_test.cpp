// The strings and variants the provider exchanges with the automation server, counted through
// the task allocator: BSTRs (with OANOCACHE set, every SysFreeString reaches it) and the memory
// behind VARIANTs, on success and on every kind of failure, must all be freed again.
#include <mutex>
#include <set>

#include "Ado.h"
#include "AdoAutomationSupport.h"

using namespace adotest_support;

namespace {

// Keeps the set of task-allocator blocks allocated while it is registered and not yet freed.
class LiveBlocks final : public IMallocSpy {
 public:
  size_t Count() {
    std::lock_guard<std::mutex> g(lock_);
    return live_.size();
  }
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
    if (riid == IID_IUnknown || riid == IID_IMallocSpy) {
      *out = static_cast<IMallocSpy*>(this);
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }  // a static object
  ULONG STDMETHODCALLTYPE Release() override { return 1; }
  SIZE_T STDMETHODCALLTYPE PreAlloc(SIZE_T cb) override { return cb; }
  void* STDMETHODCALLTYPE PostAlloc(void* p) override {
    std::lock_guard<std::mutex> g(lock_);
    if (p) live_.insert(p);
    return p;
  }
  void* STDMETHODCALLTYPE PreFree(void* p, BOOL) override {
    std::lock_guard<std::mutex> g(lock_);
    live_.erase(p);
    return p;
  }
  void STDMETHODCALLTYPE PostFree(BOOL) override {}
  SIZE_T STDMETHODCALLTYPE PreRealloc(void* p, SIZE_T cb, void** out, BOOL) override {
    std::lock_guard<std::mutex> g(lock_);
    live_.erase(p);
    *out = p;
    return cb;
  }
  void* STDMETHODCALLTYPE PostRealloc(void* p, BOOL) override { return PostAlloc(p); }
  void* STDMETHODCALLTYPE PreGetSize(void* p, BOOL) override { return p; }
  SIZE_T STDMETHODCALLTYPE PostGetSize(SIZE_T cb, BOOL) override { return cb; }
  void* STDMETHODCALLTYPE PreDidAlloc(void* p, BOOL) override { return p; }
  int STDMETHODCALLTYPE PostDidAlloc(void*, BOOL, int actual) override { return actual; }
  void STDMETHODCALLTYPE PreHeapMinimize() override {}
  void STDMETHODCALLTYPE PostHeapMinimize() override {}

 private:
  std::mutex lock_;
  std::set<void*> live_;
};

// Inserts (text and dates), one failing; a query with text results; a statement the engine
// rejects; a transaction call that fails in `mode`.
void Exercise(const fs::path& db, const std::string& mode) {
  ado::Connection c;
  c.SetConnectionString(ServerString(db,
                                     "Create=yes;Fail=Execute@3;FailSql=INSERT;FailSource=Quelle;"
                                     "FailText=Fehler beim Einfügen" +
                                         mode));
  c.Open();
  c.Execute("CREATE TABLE IF NOT EXISTS T(S TEXT, D DATETIME)");
  ado::Command cmd;
  UseText(cmd, c, "INSERT INTO T(S, D) VALUES(?, ?)");
  auto s = cmd.CreateParameter("@S", ado::adVarWChar, ado::adParamInput, 50);
  auto d = cmd.CreateParameter("@D", ado::adDate, ado::adParamInput, 8);
  cmd.Parameters().Append(s);
  cmd.Parameters().Append(d);
  c.BeginTrans();
  for (int i = 0; i < 5; ++i) {
    s->SetValue(ado::Variant("Zeile " + std::to_string(i) + " äöü"));
    d->SetValue(ado::Variant::FromDateTime(45000.25 + i));
    try {
      cmd.Execute();
    } catch (const ado::EAdoError& e) {
      EXPECT_EQ(e.Message(), "Fehler beim Einfügen");
    }
  }
  c.CommitTrans();
  ado::Command q;
  UseText(q, c, "SELECT S, D FROM T");
  ado::Recordset rs = q.Execute();
  int rows = 0;
  for (; !rs.Eof(); rs.MoveNext()) rows += rs.Fields(0).Value().AsText().empty() ? 0 : 1;
  EXPECT_GE(rows, 4);
  EXPECT_THROW(c.Execute("SELECT * FROM NoSuchTable"), ado::EAdoError);
}

}  // namespace

TEST(AdoAutomationMemoryTest, EveryStringAndVariantIsFreedOnEveryPath) {
  ASSERT_NE(Server(), nullptr);
  char flag[4];
  if (!GetEnvironmentVariableA("OANOCACHE", flag, sizeof flag))
    GTEST_SKIP()
        << "needs OANOCACHE=1 in the environment (ctest sets it) so freed strings are not cached";
  const fs::path dir = FreshDir("memory");
  ado::ComInitializer com;
  static LiveBlocks spy;
  const char* const modes[] = {"", ";FailMode=raw", ";FailMode=deferred"};
  for (const char* mode : modes)
    Exercise(dir / "warm.db", mode);  // first use: class objects, caches
  ASSERT_EQ(CoRegisterMallocSpy(&spy), S_OK);
  for (const char* mode : modes) {
    SCOPED_TRACE(mode);
    const size_t before = spy.Count();
    Exercise(dir / "counted.db", mode);
    EXPECT_EQ(spy.Count(), before) << "task-allocator blocks left behind";
  }
  CoRevokeMallocSpy();
  std::error_code ec;
  fs::remove_all(dir, ec);
}
