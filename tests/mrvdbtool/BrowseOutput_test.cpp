// Output choices of the inspection commands: JSON table lists and schemas, a dump into a file
// or one file per table (with file names that stay inside the folder), CSV nulls written as a
// chosen text, and the --version text.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <filesystem>
#include <fstream>

#include "EdbFormatWriter.h"
#include "ToolBrowse.h"
#include "ToolProcess.h"
#include "ToolSample.h"

using namespace mrvtool;
namespace fs = std::filesystem;

namespace {

class BrowseOutputTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = mrvtool::test::FreshTestFolder("mrvbrowse_");
    TSampleOptions opts;
    opts.Rows = 25;
    WriteSampleDatabases((dir_ / "src").string(), opts);
  }
  void TearDown() override { fs::remove_all(dir_); }
  std::string Src(const char* name) const { return (dir_ / "src" / name).string(); }
  fs::path dir_;
};

size_t Lines(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  size_t n = 0;
  for (std::string line; std::getline(in, line);) ++n;
  return n;
}

}  // namespace

TEST_F(BrowseOutputTest, JsonTablesAndSchema) {
  const TBrowseOptions opts;
  const auto tables = nlohmann::json::parse(
      test::CaptureOutput([&](std::FILE* f) { ListTablesJson(Src("dha.abs"), opts, f); }));
  ASSERT_TRUE(tables.is_array());
  EXPECT_EQ(tables.size(), 2u);
  EXPECT_NE(std::find(tables.begin(), tables.end(), "DhaBlacklist"), tables.end()) << tables;

  const auto schema = nlohmann::json::parse(test::CaptureOutput(
      [&](std::FILE* f) { WriteSchemaJson(Src("greylist.abs"), "", opts, f); }));
  ASSERT_EQ(schema.size(), 1u);
  EXPECT_EQ(schema[0]["name"], "GREY");
  EXPECT_EQ(schema[0]["records"], 25);
  bool signature = false;
  for (const auto& field : schema[0]["fields"])
    if (field["name"] == "GREY_SIGNATURE") {
      signature = true;
      EXPECT_TRUE(field["type"].is_string());
      EXPECT_GT(field["size"].get<int>(), 0);
      EXPECT_TRUE(field["required"].is_boolean());
    }
  EXPECT_TRUE(signature) << schema;
}

TEST_F(BrowseOutputTest, DumpIntoFilesAndNullText) {
  // One file per table; names made safe and kept apart.
  EXPECT_EQ(DumpFileName("../etc/passwd", TDumpFormat::Csv), "___etc_passwd.csv");
  {
    using namespace edb;
    TEdbFormatWriter w;
    w.CreateDatabase((dir_ / "odd.abs").string());
    for (const char* name : {"a b", "a_b", "a.b"}) {
      TEdbTableWriter& t = w.CreateTable(name, {EdbMakeFieldDef("Name", aftString, 20)});
      TEdbRecordBuilder b = t.NewRecord();
      t.Insert(b);  // a null
      b = t.NewRecord();
      b.SetAnsiString(0, "NULL");
      t.Insert(b);
      b = t.NewRecord();
      b.SetAnsiString(0, "x");
      t.Insert(b);
    }
    w.Close();
  }
  TBrowseOptions opts;
  opts.NullText = "NULL";
  const auto dumped =
      DumpAllTables((dir_ / "odd.abs").string(), (dir_ / "out").string(), TDumpFormat::Csv, opts);
  ASSERT_EQ(dumped.size(), 3u);
  std::set<std::string> files;
  for (const auto& d : dumped) {
    EXPECT_EQ(fs::path(d.Path).parent_path(), dir_ / "out");
    files.insert(fs::path(d.Path).filename().string());
    EXPECT_EQ(d.Records, 3);
  }
  EXPECT_EQ(files.size(), 3u) << "no table overwrites another's file";
  EXPECT_EQ(test::ReadToolOutput(dumped[0].Path), "Name\nNULL\n\"NULL\"\nx\n");

  // The tool: every sample table of a file, and --output.
  test::TToolResult r = test::RunTool(
      "dump \"" + Src("dha.abs") + "\" --all \"" + (dir_ / "all").string() + "\"", dir_);
  ASSERT_EQ(r.Exit, 0) << r.Err;
  EXPECT_EQ(Lines(dir_ / "all" / "DhaHistory.jsonl"), 25u);
  EXPECT_EQ(Lines(dir_ / "all" / "DhaBlacklist.jsonl"), 25u);
  r = test::RunTool("dump \"" + Src("aswl.abs") + "\" ASWL --format csv -o \"" +
                        (dir_ / "aswl.csv").string() + "\"",
                    dir_);
  ASSERT_EQ(r.Exit, 0) << r.Err;
  EXPECT_EQ(r.Out, "");
  EXPECT_EQ(Lines(dir_ / "aswl.csv"), 26u);
  r = test::RunTool("dump \"" + Src("aswl.abs") + "\"", dir_);
  EXPECT_EQ(r.Exit, 2) << "neither TABLE nor --all";
  r = test::RunTool("dump \"" + Src("aswl.abs") + "\" ASWL -o \"" +
                        (dir_ / "no" / "such" / "dir" / "x").string() + "\"",
                    dir_);
  EXPECT_EQ(r.Exit, 1);
  EXPECT_NE(r.Err.find("Cannot create the file"), std::string::npos) << r.Err;
}

TEST(ToolVersion, NamesTheProgramAndItsLibraries) {
  const fs::path dir = fs::temp_directory_path() / "mrvdbtool_version";
  fs::create_directories(dir);
  const test::TToolResult r = test::RunTool("--version", dir);
  EXPECT_EQ(r.Exit, 0);
  EXPECT_EQ(r.Out.rfind("mrvdbtool 0.1\nSQLite library 3.", 0), 0u) << r.Out;
  EXPECT_NE(r.Out.find("\nODBC driver manager "), std::string::npos) << r.Out;
  fs::remove_all(dir);
}
