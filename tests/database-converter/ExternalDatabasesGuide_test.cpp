// The External Databases guide shipped beside the executables: the table statements it shows
// must be the ones --create-schema issues, so the guide and the program never drift apart.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>

#include "Ado.h"
#include "DbTransfer_un.h"

namespace {

std::string ReadGuide() {
  std::ifstream in(std::string(MRV_SOURCE_DIR) + "/docs/external-databases.md", std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// The SQL blocks of the guide as one line: whitespace runs become one blank, and no blank
// stands right inside parentheses, so a statement spread over lines compares with its one-line
// form.
std::string GuideSqlOneLine(const std::string& guide) {
  std::string sql;
  size_t at = 0;
  while ((at = guide.find("```sql\n", at)) != std::string::npos) {
    at += 7;
    const size_t end = guide.find("```", at);
    sql += guide.substr(at, end - at) + "\n";
    at = end + 3;
  }
  std::string line;
  for (char c : sql) {
    const bool space = c == ' ' || c == '\n' || c == '\r' || c == '\t';
    if (space) {
      if (!line.empty() && line.back() != ' ' && line.back() != '(') line += ' ';
    } else {
      if (c == ')' && !line.empty() && line.back() == ' ') line.pop_back();
      line += c;
    }
  }
  return line;
}

TEST(ExternalDatabasesGuide, ShowsEveryStatementThatCreateSchemaIssues) {
  const std::string guide = ReadGuide();
  ASSERT_FALSE(guide.empty()) << "docs/external-databases.md not found";
  const std::string sql = GuideSqlOneLine(guide);
  int statements = 0;
  for (ado::Engine engine :
       {ado::Engine::SqlServer, ado::Engine::PostgreSql, ado::Engine::MySql, ado::Engine::Sqlite}) {
    for (int kind = 0; kind < mrv::DatabaseKindCount; ++kind) {
      for (const auto& table : mrv::TransferTableDefs(static_cast<mrv::TDatabaseKind>(kind))) {
        const std::string statement =
            ado::DialectFor(engine).CreateTableStatement(mrv::TargetTableSchema(table)) + ";";
        EXPECT_NE(sql.find(statement), std::string::npos)
            << ado::DialectFor(engine).Name() << " statement missing from the guide:\n"
            << statement;
        ++statements;
      }
    }
  }
  EXPECT_EQ(statements, 20);
}

}  // namespace
