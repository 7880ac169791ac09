// mrvdbtool.exe converting through the ADO provider into the test automation server, compared
// with the same run straight into SQLite; the answers for a target that holds rows; an insert
// failing mid-batch; and the server's object counts after every run.
#include <sqlite3.h>

#include <cstdlib>
#include <vector>

#include "AdoAutomationSupport.h"
#include "ProcessRun.h"

using namespace adotest_support;

namespace {

struct ToolRun {
  int Exit = -1;
  std::string Out, Err;
};

// The tool's output without the summary's two timing columns (Seconds, Rows/s), which differ
// from run to run.
std::string WithoutTimings(const std::string& out) {
  std::string result, line;
  bool summary = false;
  for (size_t at = 0; at < out.size();) {
    size_t end = out.find('\n', at);
    if (end == std::string::npos) end = out.size();
    line = out.substr(at, end - at);
    at = end + 1;
    if (summary) {
      for (int field = 0; field < 2; ++field) {
        while (!line.empty() && line.back() != ' ') line.pop_back();
        while (!line.empty() && line.back() == ' ') line.pop_back();
      }
    }
    if (line.rfind("Database ", 0) == 0) summary = true;
    result += line + "\n";
  }
  return result;
}

std::string Slurp(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  std::string text = ss.str(), out;
  for (size_t i = 0; i < text.size(); ++i)
    if (!(text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')) out.push_back(text[i]);
  return out;
}

// Every row of `table` in insertion order, each value with its storage class.
std::vector<std::string> Rows(const fs::path& db, const std::string& table) {
  std::vector<std::string> rows;
  sqlite3* h = nullptr;
  if (sqlite3_open_v2(db.string().c_str(), &h, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
    sqlite3_close(h);
    return rows;
  }
  sqlite3_stmt* st = nullptr;
  if (sqlite3_prepare_v2(h, ("SELECT * FROM " + table + " ORDER BY rowid").c_str(), -1, &st,
                         nullptr) == SQLITE_OK)
    while (sqlite3_step(st) == SQLITE_ROW) {
      std::string row;
      for (int c = 0; c < sqlite3_column_count(st); ++c) {
        const unsigned char* t = sqlite3_column_text(st, c);
        row += std::to_string(sqlite3_column_type(st, c)) + ":" +
               (t ? reinterpret_cast<const char*>(t) : "") + "|";
      }
      rows.push_back(row);
    }
  sqlite3_finalize(st);
  sqlite3_close(h);
  return rows;
}

const char* const kTables[] = {"ASWL", "GREY", "DhaHistory", "DhaBlacklist", "HoneypotBlacklist"};

class AdoAutomationConvertTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(Server(), nullptr) << "test server not loaded or registered";
    dir_ = FreshDir("convert");
  }
  void TearDown() override {
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }

  // Runs the tool with `args`; stdin is `input` (written to a file first).
  ToolRun Tool(const std::string& args, const std::string& input = "") {
    const fs::path in = dir_ / "in.txt", out = dir_ / "out.txt", err = dir_ / "err.txt";
    std::ofstream(in, std::ios::binary) << input;
    ToolRun r;
    r.Exit = testsupport::RunProgram(MRVDBTOOL_EXE, args, in, out, err);
    r.Out = Slurp(out);
    r.Err = Slurp(err);
    return r;
  }
  std::string Sources(const fs::path& src, bool all = true) const {
    std::string s = "--honeypot \"" + (src / "honeypot.abs").string() + "\"";
    if (all)
      s += " --aswl \"" + (src / "aswl.abs").string() + "\" --greylist \"" +
           (src / "greylist.abs").string() + "\" --dha \"" + (src / "dha.abs").string() + "\"";
    return s;
  }
  // A conversion into the test server.
  ToolRun ViaServer(const std::string& args, const std::string& extra,
                    const std::string& input = "") {
    fs::remove(Counts());
    ToolRun r = Tool(args + " --target \"" +
                         ServerString(dir_ / "ado.db", "Counts=" + Counts().string() + extra) +
                         "\" --no-service",
                     input);
    ExpectAllReleased(args);
    return r;
  }
  fs::path Counts() const { return dir_ / "counts.txt"; }
  // The server's counts of the last run show every object released.
  void ExpectAllReleased(const std::string& args) {
    auto c = CountsFile(Counts());
    EXPECT_GT(c["created"], 0) << "the server wrote no counts";
    EXPECT_EQ(c["created"], c["released"]) << "objects leaked in: " << args;
    EXPECT_EQ(c["repeated_lookups"], 0) << "a DISPID was looked up more than once per object";
    EXPECT_EQ(c["empty_recordsets"], 0) << "a recordset was built for a statement without rows";
  }

  fs::path dir_;
};

}  // namespace

TEST_F(AdoAutomationConvertTest, SamplesConvertAsIntoSqliteAndTheAnswersWork) {
  const fs::path src = dir_ / "src";
  ToolRun r = Tool("sample \"" + src.string() + "\" --rows 1200");
  ASSERT_EQ(r.Exit, 0) << r.Out << r.Err;

  // The test server creates its file when the connection opens; give the direct run an empty
  // file too, so that both runs report the same steps.
  sqlite3* empty = nullptr;
  ASSERT_EQ(sqlite3_open((dir_ / "direct.db").string().c_str(), &empty), SQLITE_OK);
  sqlite3_close(empty);
  r = Tool("convert " + Sources(src) + " --create-schema --target \"Provider=SQLite;Data Source=" +
           (dir_ / "direct.db").string() + ";Create=yes\" --no-service");
  ASSERT_EQ(r.Exit, 0) << r.Out << r.Err;
  const std::string directOut = r.Out;

  r = ViaServer("convert " + Sources(src) + " --create-schema", ";Create=yes");
  ASSERT_EQ(r.Exit, 0) << r.Out << r.Err;
  EXPECT_EQ(WithoutTimings(r.Out), WithoutTimings(directOut));

  long nulls = 0, nonAscii = 0, milliseconds = 0;
  for (const char* t : kTables) {
    SCOPED_TRACE(t);
    const auto direct = Rows(dir_ / "direct.db", t), viaAdo = Rows(dir_ / "ado.db", t);
    ASSERT_EQ(direct.size(), 1200u);
    ASSERT_EQ(viaAdo.size(), direct.size());
    for (size_t i = 0; i < direct.size(); ++i) {
      ASSERT_EQ(viaAdo[i], direct[i]) << "row " << i;
      const std::string& row = direct[i];
      if (row.find("5:|") != std::string::npos) ++nulls;
      for (unsigned char ch : row) nonAscii += ch >= 0x80;
      for (size_t p = row.find(':'); p != std::string::npos; p = row.find(':', p + 1))
        if (p + 7 < row.size() && row[p + 3] == '.' && row.compare(p + 4, 3, "000") != 0)
          ++milliseconds;
    }
  }
  // The comparison only means something if the samples hold these kinds of values.
  EXPECT_GT(nulls, 0);
  EXPECT_GT(nonAscii, 0);
  EXPECT_GT(milliseconds, 0);

  // The target now holds rows: no terminal and no answer stops the run, cancel leaves it alone.
  r = ViaServer("convert " + Sources(src, false), "");
  EXPECT_EQ(r.Exit, 1);
  EXPECT_NE(r.Err.find("The target Honeypot database is not empty and there is no terminal"),
            std::string::npos)
      << r.Err;
  r = ViaServer("convert " + Sources(src, false) + " --existing cancel", "");
  EXPECT_EQ(r.Exit, 3) << r.Out << r.Err;
  EXPECT_NE(r.Out.find("Conversion cancelled."), std::string::npos) << r.Out;
  EXPECT_EQ(Rows(dir_ / "ado.db", "HoneypotBlacklist").size(), 1200u);

  r = ViaServer("convert " + Sources(src, false) + " --existing keep", "");
  EXPECT_EQ(r.Exit, 0) << r.Out << r.Err;
  EXPECT_EQ(Rows(dir_ / "ado.db", "HoneypotBlacklist").size(), 2400u);

  r = ViaServer("convert " + Sources(src, false) + " --existing delete", "");
  EXPECT_EQ(r.Exit, 0) << r.Out << r.Err;
  EXPECT_NE(r.Out.find("Finished clearing the Honeypot database."), std::string::npos) << r.Out;
  // The same rows again (the key column counts on, so it is left out).
  auto withoutKey = [](std::vector<std::string> rows) {
    for (std::string& r : rows) r.erase(0, r.find('|'));
    return rows;
  };
  EXPECT_EQ(withoutKey(Rows(dir_ / "ado.db", "HoneypotBlacklist")),
            withoutKey(Rows(dir_ / "direct.db", "HoneypotBlacklist")));
}

TEST_F(AdoAutomationConvertTest, InsertFailureMidBatchKeepsEarlierBatchesAndReportsTheError) {
  const fs::path src = dir_ / "src";
  ASSERT_EQ(Tool("sample \"" + src.string() + "\" --rows 2500").Exit, 0);
  // The 1700th insert fails: the first batch of 1000 is committed, the open one rolled back.
  ToolRun r = ViaServer("convert " + Sources(src, false) + " --create-schema",
                        ";Create=yes;User ID=sa;Password=Secret99;Fail=Execute@1700;FailSql=INSERT;"
                        "FailCode=-2147217873;FailSource=Test Provider;"
                        "FailText={Violation of PRIMARY KEY constraint; login Password=Secret99.}");
  EXPECT_EQ(r.Exit, 1) << r.Out;
  EXPECT_EQ(Rows(dir_ / "ado.db", "HoneypotBlacklist").size(), 1000u);
  EXPECT_EQ(r.Err,
            "An unexpected error occured during the conversion.\nException EAdoError.\n"
            "\"Violation of PRIMARY KEY constraint; login Password=***.\"\n");
  EXPECT_NE(r.Out.find("Error occured, rolling back data...\nFinished rolling back."),
            std::string::npos)
      << r.Out;
  EXPECT_EQ((r.Out + r.Err).find("Secret99"), std::string::npos) << r.Out << r.Err;

  // A connection that fails to open: the run's detail block, code as signed decimal.
  r = ViaServer("convert " + Sources(src, false),
                ";Password=Secret99;Fail=Open;FailCode=0x80004005;"
                "FailSource=Test Provider;FailText={Login failed for Password=Secret99}");
  EXPECT_EQ(r.Exit, 1);
  EXPECT_EQ(
      r.Err,
      "Could not connect to the target Honeypot database.\n\nMake sure the database has been "
      "created,\nand the database server is up and running.\n\nError EAdoError.\n"
      "Error code: -2147467259.\nSource: Test Provider.\n\"Login failed for Password=***\"\n");
  EXPECT_EQ((r.Out + r.Err).find("Secret99"), std::string::npos) << r.Out << r.Err;
  fs::remove(Counts());
  // The server's message quotes the whole connection string.
  std::string text =
      ServerString(dir_ / "none.db", "Password=Secret99;Counts=" + Counts().string());
  r = Tool("test-connection \"" + text + "\"");
  ExpectAllReleased("test-connection");
  EXPECT_EQ(r.Exit, 1);
  text.replace(text.find("Secret99"), 8, "***");
  EXPECT_EQ(r.Err,
            "Test failed, could not connect to the database.\nError message: Cannot open the "
            "database of \"" +
                text + "\": unable to open database file.\n");
  EXPECT_EQ((r.Out + r.Err).find("Secret99"), std::string::npos) << r.Err;
}
