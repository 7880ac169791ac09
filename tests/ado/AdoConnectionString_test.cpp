// Connection strings: credential masking and the choice of backend.
#include <gtest/gtest.h>

#include "Ado.h"
#include "AdoConnectionString.h"

namespace {

TEST(AdoMask, HidesPasswordValuesOnly) {
  EXPECT_EQ(ado::MaskConnectionString("Driver={PostgreSQL Unicode};Uid=sa;Pwd=s3cret;Port=1"),
            "Driver={PostgreSQL Unicode};Uid=sa;Pwd=***;Port=1");
  EXPECT_EQ(ado::MaskConnectionString("Provider=SQLOLEDB;User ID=sa;PASSWORD=abc"),
            "Provider=SQLOLEDB;User ID=sa;PASSWORD=***");
  EXPECT_EQ(ado::MaskConnectionString("pwd = x y ;a=b"), "pwd = ***;a=b");
  // Braced and quoted values may hold ';' and '}}'.
  EXPECT_EQ(ado::MaskConnectionString("Server=h;PWD={a;b}}c};Database=d"),
            "Server=h;PWD=***;Database=d");
  EXPECT_EQ(ado::MaskConnectionString("Password='it''s;x';Data Source=s"),
            "Password=***;Data Source=s");
  EXPECT_EQ(ado::MaskConnectionString("Provider=Microsoft.ACE.OLEDB.12.0;Jet OLEDB:Database "
                                      "Password=zz;Data Source=c:\\a.accdb"),
            "Provider=Microsoft.ACE.OLEDB.12.0;Jet OLEDB:Database Password=***;Data "
            "Source=c:\\a.accdb");
  // An unterminated brace would otherwise leak the rest of the text.
  EXPECT_EQ(ado::MaskConnectionString("Uid=u;Pwd={abc;def"), "Uid=u;Pwd=***");
  EXPECT_EQ(ado::MaskConnectionString("Driver={broken;Uid=u;Pwd=abc;Port=1"),
            "Driver={broken;Uid=u;Pwd=***;Port=1");
  EXPECT_EQ(ado::MaskConnectionString("C:\\data\\target.db"), "C:\\data\\target.db");
  EXPECT_EQ(ado::MaskConnectionString(""), "");
}

TEST(AdoMask, RejectedStringsDoNotEchoThePassword) {
  for (const char* text : {"Server=x;Pwd=hunter22", "Uid=u;Pwd={hunter22", "Driver={x;Pwd=hunter22",
                           "Driver='x;Password=hunter22;", "garbage;Pwd=hunter22;more garbage"}) {
    try {
      ado::ChooseBackend(text);
      ADD_FAILURE() << "accepted: " << text;
    } catch (const ado::EAdoError& e) {
      EXPECT_EQ(std::string(e.what()).find("hunter22"), std::string::npos) << e.what();
    }
  }
}

TEST(AdoBackendChoice, PicksTheBackendFromTheString) {
  auto c = ado::ChooseBackend("  /tmp/x/target.sqlite3 ");
  EXPECT_EQ(c.Kind, ado::BackendKind::Sqlite);
  EXPECT_EQ(c.Target, "/tmp/x/target.sqlite3");

  c = ado::ChooseBackend("Provider=sqlite;Data Source={C:\\My Data\\t.db};Create=yes");
  EXPECT_EQ(c.Kind, ado::BackendKind::Sqlite);
  EXPECT_EQ(c.Target, "C:\\My Data\\t.db");
  EXPECT_TRUE(c.CreateIfMissing);

  c = ado::ChooseBackend("Driver={PostgreSQL Unicode};Server=h;Pwd={a;b}");
  EXPECT_EQ(c.Kind, ado::BackendKind::Odbc);
  EXPECT_EQ(c.Target, "Driver={PostgreSQL Unicode};Server=h;Pwd={a;b}");

  // The automation ODBC provider's key is dropped for the driver manager.
  c = ado::ChooseBackend("Provider=MSDASQL.1;DSN=mrv;UID=u");
  EXPECT_EQ(c.Kind, ado::BackendKind::Odbc);
  EXPECT_EQ(c.Target, "DSN=mrv;UID=u");

  c = ado::ChooseBackend("Provider=SQLOLEDB.1;Data Source=srv;Initial Catalog=mrv");
  EXPECT_EQ(c.Kind, ado::BackendKind::Provider);
  EXPECT_EQ(c.ProviderName, "SQLOLEDB.1");
}

TEST(AdoBackendChoice, RefusesStringsThatNameNoBackend) {
  for (const char* text : {"", "   ", "target.txt", "Server=h;Database=d", "Provider=SQLite",
                           "Driver={unterminated", "=x;Driver={a}"})
    EXPECT_THROW(ado::ChooseBackend(text), ado::EAdoError) << text;
}

TEST(AdoBackendChoice, ConnectionReportsRejectedAndMissingComponents) {
  ado::Connection conn;
  try {
    conn.SetConnectionString("Server=h;Database=d");
    ADD_FAILURE();
  } catch (const ado::EAdoError& e) {
    EXPECT_FALSE(e.ComponentUnavailable());
  }
#if !defined(_WIN32)
  // No automation providers here: a clear error that names the provider.
  try {
    conn.SetConnectionString("Provider=SQLOLEDB;Data Source=srv;Pwd=topsecret");
    ADD_FAILURE();
  } catch (const ado::EAdoError& e) {
    EXPECT_TRUE(e.ComponentUnavailable());
    EXPECT_NE(e.Message().find("SQLOLEDB"), std::string::npos);
    EXPECT_EQ(e.Message().find("topsecret"), std::string::npos);
  }
#endif
}

}  // namespace
