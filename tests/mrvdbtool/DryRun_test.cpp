// convert --dry-run as a function and as the built tool: every check is made and reported,
// and nothing changes: the service is only queried, the source files, the target and the
// temporary folder stay as they were, and a SQLite target that does not exist is not created.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "../database-converter/RunTestSupport.h"
#include "Ado.h"
#include "DbTransfer_un.h"
#include "EdbFormatWriter.h"
#include "ToolDryRun.h"
#include "ToolProcess.h"
#include "ToolSample.h"

namespace fs = std::filesystem;
using mrvtool::TDryRunSettings;

namespace {

std::string FileBytes(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

class DryRunTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = mrvtool::test::FreshTestFolder("mrvdry_");
    mrvtool::TSampleOptions opts;
    opts.Rows = 40;
    mrvtool::WriteSampleDatabases((dir_ / "src").string(), opts);
    // A target holding the tables, with rows in the Honeypot one.
    for (int k = 0; k < mrv::DatabaseKindCount; ++k)
      mrv::CreateTargetTables(Existing() + ";Create=yes", mrv::TDatabaseKind(k));
    ado::Connection c;
    c.SetConnectionString(Existing());
    c.Open();
    for (int i = 0; i < 7; ++i)
      c.Execute("INSERT INTO HoneypotBlacklist(IpAddress, LastUpdateTime) VALUES('10.1.1." +
                std::to_string(i) + "', '2026-01-01 10:00:00.000')");
    c.Close();
  }
  void TearDown() override { fs::remove_all(dir_); }

  std::string Existing() const {
    return "Provider=SQLite;Data Source=" + (dir_ / "ext.db").string();
  }
  void Select(mrv::TDbConversionInfo& info, const std::string& target) {
    const char* files[4] = {"aswl.abs", "greylist.abs", "dha.abs", "honeypot.abs"};
    for (int k = 0; k < 4; ++k) {
      info.Tasks[k].Selected = true;
      info.Tasks[k].SourcePath = (dir_ / "src" / files[k]).string();
      info.Tasks[k].TargetConnectionString = target;
    }
  }
  // Runs the dry run; its output goes to `out`.
  int DryRun(const std::string& target, TDryRunSettings s, std::string& out) {
    mrv::TDbConversionInfo info;
    Select(info, target);
    int rc = -1;
    out = mrvtool::test::CaptureOutput(
        [&](std::FILE* f) { rc = mrvtool::DryRunConversion(info, s, f); });
    return rc;
  }

  fs::path dir_;
};

}  // namespace

TEST_F(DryRunTest, ChecksEverythingAndChangesNothing) {
  const std::string sourceBytes = FileBytes(dir_ / "src" / "greylist.abs");
  const std::string targetBytes = FileBytes(dir_ / "ext.db");
  const auto sourceTime = fs::last_write_time(dir_ / "src" / "greylist.abs");
  mrvtest::TPrivateTempDir temp;
  auto services = std::make_shared<mrvtest::TScriptedServices>();

  TDryRunSettings s;
  s.ServiceName = "MRVSVC";
  s.Services = services;
  s.Existing = "delete";
  std::string out;
  EXPECT_EQ(DryRun(Existing(), s, out), 0) << out;
  EXPECT_NE(out.find("Service MRVSVC: running; a real run stops it"), std::string::npos) << out;
  EXPECT_NE(out.find("HoneypotBlacklist            40            7  delete 7, insert 40"),
            std::string::npos)
      << out;
  EXPECT_NE(out.find("DhaBlacklist                 40            0  insert 40"), std::string::npos)
      << out;
  EXPECT_NE(out.find("A real run would start."), std::string::npos) << out;
  EXPECT_EQ(services->stops, 0);
  EXPECT_EQ(services->starts, 0);
  EXPECT_TRUE(services->running);
  EXPECT_TRUE(fs::is_empty(temp.Path())) << "no temporary copy";
  EXPECT_EQ(FileBytes(dir_ / "src" / "greylist.abs"), sourceBytes);
  EXPECT_EQ(fs::last_write_time(dir_ / "src" / "greylist.abs"), sourceTime);
  EXPECT_EQ(FileBytes(dir_ / "ext.db"), targetBytes);

  // What would stop a real run: no terminal to ask, --existing cancel, too little space.
  s.Existing = "ask";
  EXPECT_EQ(DryRun(Existing(), s, out), 1);
  EXPECT_NE(out.find("Problem: The target Honeypot database is not empty and there is no terminal"),
            std::string::npos)
      << out;
  s.CanAsk = true;
  EXPECT_EQ(DryRun(Existing(), s, out), 0) << out;
  EXPECT_NE(out.find("ask: delete or keep 7, then insert 40"), std::string::npos) << out;
  s.Existing = "cancel";
  EXPECT_EQ(DryRun(Existing(), s, out), 1);
  EXPECT_NE(out.find("holds 7 rows and --existing cancel cancels the run"), std::string::npos)
      << out;
  s.Existing = "keep";
  s.FreeSpace = [](const std::string&) { return std::int64_t(100); };
  EXPECT_EQ(DryRun(Existing(), s, out), 1);
  EXPECT_NE(out.find("Problem: There is not enough space in " + temp.Folder()), std::string::npos)
      << out;
  EXPECT_EQ(services->stops, 0);
  EXPECT_EQ(FileBytes(dir_ / "ext.db"), targetBytes);
}

TEST_F(DryRunTest, SourceAndTargetProblems) {
  TDryRunSettings s;  // no service
  std::string out;
  // A new SQLite file is neither created nor connected to; without --create-schema it lacks tables.
  const fs::path fresh = dir_ / "new.db";
  const std::string create = "Provider=SQLite;Data Source=" + fresh.string() + ";Create=yes";
  EXPECT_EQ(DryRun(create, s, out), 1);
  EXPECT_NE(out.find("new SQLite file without tables; add --create-schema"), std::string::npos)
      << out;
  s.CreateSchema = true;
  EXPECT_EQ(DryRun(create, s, out), 0) << out;
  EXPECT_NE(out.find("GREY                         40      missing  create the table, insert 40"),
            std::string::npos)
      << out;
  EXPECT_FALSE(fs::exists(fresh));

  // A target without tables, an unreachable one (password kept out), a source missing a field.
  s.CreateSchema = false;
  std::ofstream(dir_ / "empty.db").close();
  EXPECT_EQ(DryRun("Provider=SQLite;Data Source=" + (dir_ / "empty.db").string(), s, out), 1);
  EXPECT_NE(out.find("The Greylisting (GREY) table was not found in the target External Database."),
            std::string::npos)
      << out;
  EXPECT_EQ(DryRun("Driver={No Such Driver};Server=x;Pwd=Secret12345", s, out), 1);
  EXPECT_NE(out.find("Could not connect to the target Automatic Sender Whitelist database."),
            std::string::npos)
      << out;
  EXPECT_EQ(out.find("Secret12345"), std::string::npos) << out;

  {
    using namespace edb;
    TEdbFormatWriter w;
    w.CreateDatabase((dir_ / "src" / "aswl.abs").string());
    w.CreateTable("ASWL", {EdbMakeFieldDef("ASWL_SENDER_EMAIL", aftString, 255)});
    w.Close();
  }
  EXPECT_EQ(DryRun(Existing(), s, out), 1);
  EXPECT_NE(out.find("Problem: Invalid source Automatic Sender Whitelist database."),
            std::string::npos)
      << out;
  fs::remove(dir_ / "src" / "dha.abs");
  EXPECT_EQ(DryRun(Existing(), s, out), 1);
  EXPECT_NE(out.find("does not exist."), std::string::npos) << out;
}

// The built tool: --dry-run reaches the dry run, leaves the target and the temporary folder
// alone and answers with the exit status.
TEST_F(DryRunTest, TheToolsDryRunOption) {
  mrvtest::TPrivateTempDir temp;  // the tool inherits TMPDIR
  const std::string targetBytes = FileBytes(dir_ / "ext.db");
  const fs::path s = dir_ / "src";
  const std::string base = "convert --aswl \"" + (s / "aswl.abs").string() + "\" --honeypot \"" +
                           (s / "honeypot.abs").string() + "\" --target \"" + Existing() +
                           "\" --dry-run";
  mrvtool::test::TToolResult r =
      mrvtool::test::RunTool(base + " --no-service --existing keep", dir_);
  EXPECT_EQ(r.Exit, 0) << r.Out << r.Err;
  EXPECT_NE(r.Out.find("keep 7, insert 40"), std::string::npos) << r.Out;
  EXPECT_NE(r.Out.find("Service: none is stopped (--no-service)."), std::string::npos) << r.Out;
  r = mrvtool::test::RunTool(base + " --no-service", dir_);  // no terminal to ask
  EXPECT_EQ(r.Exit, 1) << r.Out;
  EXPECT_EQ(FileBytes(dir_ / "ext.db"), targetBytes);
  EXPECT_TRUE(fs::is_empty(temp.Path()));
  r = mrvtool::test::RunTool(base + " --verify", dir_);
  EXPECT_EQ(r.Exit, 2) << "--dry-run and --verify exclude each other";
}
