// The engine dialect table: which engine a name means, and the SQL each engine gets.
#include <gtest/gtest.h>

#include "AdoDialect.h"

namespace {

using ado::Engine;

TEST(AdoDialect, EngineFromReportedNames) {
  EXPECT_EQ(ado::EngineFromDbmsName("Microsoft SQL Server"), Engine::SqlServer);
  EXPECT_EQ(ado::EngineFromDbmsName("PostgreSQL"), Engine::PostgreSql);
  EXPECT_EQ(ado::EngineFromDbmsName("SQLite"), Engine::Sqlite);
  EXPECT_EQ(ado::EngineFromDbmsName("MySQL"), Engine::MySql);
  EXPECT_EQ(ado::EngineFromDbmsName("MariaDB"), Engine::MySql);
  EXPECT_EQ(ado::EngineFromDbmsName("ACCESS"), Engine::Access);
  EXPECT_EQ(ado::EngineFromDbmsName("Oracle"), Engine::Unknown);
  EXPECT_EQ(ado::EngineFromProvider("SQLOLEDB.1"), Engine::SqlServer);
  EXPECT_EQ(ado::EngineFromProvider("MSOLEDBSQL19"), Engine::SqlServer);
  EXPECT_EQ(ado::EngineFromProvider("SQLNCLI11"), Engine::SqlServer);
  EXPECT_EQ(ado::EngineFromProvider("Microsoft.Jet.OLEDB.4.0"), Engine::Access);
  EXPECT_EQ(ado::EngineFromProvider("Microsoft.ACE.OLEDB.12.0"), Engine::Access);
  EXPECT_EQ(ado::EngineFromProvider("MSDASQL"), Engine::Unknown);
}

TEST(AdoDialect, ClearingStatementPerEngine) {
  const char* topForm = "DELETE FROM GREY WHERE GREY_ID IN (SELECT TOP 1000 GREY_ID FROM GREY)";
  EXPECT_EQ(ado::DialectFor(Engine::SqlServer).ClearBatchStatement("GREY", "GREY_ID", 1000),
            topForm);
  EXPECT_EQ(ado::DialectFor(Engine::Access).ClearBatchStatement("GREY", "GREY_ID", 1000), topForm);
  EXPECT_EQ(ado::DialectFor(Engine::Unknown).ClearBatchStatement("GREY", "GREY_ID", 1000), topForm);
  const char* limitForm =
      "DELETE FROM DhaHistory WHERE Id IN (SELECT Id FROM DhaHistory LIMIT 1000)";
  EXPECT_EQ(ado::DialectFor(Engine::Sqlite).ClearBatchStatement("DhaHistory", "Id", 1000),
            limitForm);
  EXPECT_EQ(ado::DialectFor(Engine::PostgreSql).ClearBatchStatement("DhaHistory", "Id", 1000),
            limitForm);
  EXPECT_EQ(ado::DialectFor(Engine::MySql).ClearBatchStatement("ASWL", "ASWL_ID", 1000),
            "DELETE FROM ASWL LIMIT 1000");
}

TEST(AdoDialect, CreateTableKeyAndColumnTypes) {
  ado::TableDef t{"DhaBlacklist",
                  "Id",
                  {{"IpAddress", ado::ColumnKind::VarChar, 15},
                   {"LastUpdateTime", ado::ColumnKind::DateTime, 0}}};
  EXPECT_EQ(ado::DialectFor(Engine::Sqlite).CreateTableStatement(t),
            "CREATE TABLE IF NOT EXISTS DhaBlacklist (Id INTEGER PRIMARY KEY AUTOINCREMENT, "
            "IpAddress VARCHAR(15), LastUpdateTime DATETIME)");
  EXPECT_EQ(ado::DialectFor(Engine::PostgreSql).CreateTableStatement(t),
            "CREATE TABLE IF NOT EXISTS DhaBlacklist (Id SERIAL PRIMARY KEY, "
            "IpAddress VARCHAR(15), LastUpdateTime TIMESTAMP(3))");
  EXPECT_EQ(ado::DialectFor(Engine::MySql).CreateTableStatement(t),
            "CREATE TABLE IF NOT EXISTS DhaBlacklist (Id INT NOT NULL AUTO_INCREMENT PRIMARY "
            "KEY, IpAddress VARCHAR(15), LastUpdateTime DATETIME(3))");
  EXPECT_EQ(ado::DialectFor(Engine::SqlServer).CreateTableStatement(t),
            "IF OBJECT_ID(N'DhaBlacklist', N'U') IS NULL CREATE TABLE DhaBlacklist (Id INT "
            "IDENTITY(1,1) PRIMARY KEY, IpAddress VARCHAR(15), LastUpdateTime DATETIME2(3))");
  EXPECT_EQ(ado::DialectFor(Engine::Access).CreateTableStatement(t),
            "CREATE TABLE DhaBlacklist (Id COUNTER PRIMARY KEY, IpAddress VARCHAR(15), "
            "LastUpdateTime DATETIME)");
  EXPECT_FALSE(ado::DialectFor(Engine::Access).SupportsCreateIfMissing());
}

}  // namespace
