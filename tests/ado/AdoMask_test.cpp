// Passwords in provider messages: the one masking helper on its own, and every failure that
// leaves a connection or command, from a backend whose messages echo the connection string
// and the password, and from the ODBC driver manager echoing a driver path.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "Ado.h"
#include "AdoBackend.h"
#include "EchoBackend.h"

namespace {

TEST(AdoMaskSecrets, MasksWholeTokensAndKeepsEveryOtherWord) {
  struct Case {
    const char* connection;
    const char* message;
    const char* expected;
  };
  const Case cases[] = {
      // Short passwords inside ordinary words stay, as whole tokens they go.
      {"Uid=u;Pwd=x", "unexpected token x at 'x'", "unexpected token *** at '***'"},
      {"Uid=u;Pwd=pa", "password authentication failed for pa.",
       "password authentication failed for ***."},
      {"Uid=u;Password=ssw", "password ssw", "password ***"},
      // Echoed connection strings, plain and braced.
      {"Driver={PG};Uid=u;Pwd=s3cret;Port=1", "bad string Driver={PG};Uid=u;Pwd=s3cret;Port=1",
       "bad string Driver={PG};Uid=u;Pwd=***;Port=1"},
      {"Server=h;PWD={a;b}}c};Database=d", "echo: Server=h;PWD={a;b}}c};Database=d",
       "echo: Server=h;PWD=***;Database=d"},
      {"Server=h;PWD={a;b}}c}", "the password a;b}c is wrong", "the password *** is wrong"},
      // Non-ASCII passwords: whole tokens only; the bytes of other letters are word bytes.
      {"Pwd=p\xC3\xA4ss", "login p\xC3\xA4ss failed; p\xC3\xA4ssw\xC3\xB6rter stays",
       "login *** failed; p\xC3\xA4ssw\xC3\xB6rter stays"},
      {"Pwd=\xC3\xA4", "\xC3\xA4rger \xC3\xA4 fin", "\xC3\xA4rger *** fin"},
      // A password with punctuation at its edges needs no word boundary there.
      {"Pwd=!pw!", "got x!pw!y", "got x***y"},
      // Longer passwords first, so one that contains another is masked whole.
      {"Pwd=ab;Jet OLEDB:Database Password=ab cd", "ab cd and ab", "*** and ***"},
      // Nothing to hide.
      {"Driver={PG};Uid=u", "password authentication failed for user \"u\"",
       "password authentication failed for user \"u\""},
  };
  for (const Case& c : cases)
    EXPECT_EQ(ado::MaskSecrets(c.message, c.connection), c.expected) << c.connection;
}

class AdoMaskEcho : public ::testing::Test {
 protected:
  void Use(const std::string& conn, bool failAtCreate, bool failOpen) {
    ado::detail::BackendFactoryForTesting() = [=, this](const ado::BackendChoice&) {
      // The message carries the string as given and the password on its own.
      auto b = std::make_unique<testsupport::EchoBackend>(conn + " password " + password_ + ".",
                                                          failAtCreate);
      b->failOpen = failOpen;
      return b;
    };
  }
  void TearDown() override { ado::detail::BackendFactoryForTesting() = nullptr; }

  template <class F>
  std::string MessageOf(F f) {
    try {
      f();
    } catch (const ado::EAdoError& e) {
      return e.Message();
    }
    return "(no failure)";
  }

  std::string password_;
};

TEST_F(AdoMaskEcho, EveryFailureOfConnectionAndCommandIsMasked) {
  for (const std::string pw : {"x", "pa", "s3cret", "p\xC3\xA4ss"}) {
    password_ = pw;
    const std::string conn = "Provider=SQLite;Data Source=t.db;Uid=u;Password=" + pw;
    const std::string shown = "Provider=SQLite;Data Source=t.db;Uid=u;Password=*** password ***.";
    const std::string expected = "unexpected failure at %s of " + shown;
    auto at = [&](const char* step) {
      std::string e = expected;
      return e.replace(e.find("%s"), 2, step);
    };
    Use(conn, true, true);
    {
      ado::Connection c;
      EXPECT_EQ(MessageOf([&] { c.SetConnectionString(conn); }), at("create")) << pw;
    }
    Use(conn, false, true);
    {
      ado::Connection c;
      c.SetConnectionString(conn);
      EXPECT_EQ(MessageOf([&] { c.Open(); }), at("open")) << pw;
    }
    Use(conn, false, false);
    ado::Connection c;
    c.SetConnectionString(conn);
    c.Open();
    EXPECT_EQ(MessageOf([&] { c.BeginTrans(); }), at("begin")) << pw;
    EXPECT_EQ(MessageOf([&] { c.Execute("SELECT 1"); }), at("prepare")) << pw;
  }
}

#if !defined(_WIN32)
TEST(AdoMaskOdbc, DriverManagerEchoOfTheDriverPathIsMasked) {
  // unixODBC names the library it could not load; here the path holds the password.
  ado::Connection c;
  c.SetConnectionString("Driver=/nonexistent/mrv-k3y9/libdrv.so;Uid=u;Pwd=k3y9");
  try {
    c.Open();
    FAIL() << "opened";
  } catch (const ado::EAdoError& e) {
    EXPECT_EQ(e.Message().find("k3y9"), std::string::npos) << e.Message();
    EXPECT_NE(e.Message().find("/nonexistent/mrv-***/libdrv.so"), std::string::npos) << e.Message();
  }
}
#endif

}  // namespace
