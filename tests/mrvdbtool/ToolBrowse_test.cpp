// Inspection commands over sample databases: the tool's own output read back, and the binary's
// exit codes.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <atomic>
#include <chrono>
#include <fstream>
#include <functional>
#include <cstdlib>
#include <filesystem>
#include <set>
#include <string>

#include "EdbMain.h"
#include "ToolBrowse.h"
#include "ToolSample.h"

using namespace mrvtool;
namespace fs = std::filesystem;

namespace {

std::string TempDir(const std::string& stem) {
  static std::atomic<int> n{0};
  fs::path p =
      fs::temp_directory_path() /
      ("mrvdbtool_" + std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()) +
       "_" + std::to_string(++n) + stem);
  fs::create_directories(p);
  return p.string();
}

std::string Capture(const std::function<void(std::FILE*)>& f) {
  std::FILE* tmp = std::tmpfile();
  f(tmp);
  std::fflush(tmp);
  std::string out;
  std::rewind(tmp);
  char buf[65536];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, tmp)) > 0) out.append(buf, n);
  std::fclose(tmp);
  return out;
}

std::vector<nlohmann::json> Lines(const std::string& jsonl) {
  std::vector<nlohmann::json> v;
  size_t pos = 0;
  while (pos < jsonl.size()) {
    const size_t nl = jsonl.find('\n', pos);
    v.push_back(nlohmann::json::parse(jsonl.substr(pos, nl - pos)));
    pos = nl + 1;
  }
  return v;
}

class SampleFiles : public ::testing::Test {
 protected:
  static std::string dir;
  static void SetUpTestSuite() {
    dir = TempDir("sample");
    TSampleOptions o;
    o.Rows = 400;
    o.Seed = 7;
    WriteSampleDatabases(dir, o);
  }
  static void TearDownTestSuite() { fs::remove_all(dir); }
  static std::string File(const char* name) { return (fs::path(dir) / name).string(); }
};
std::string SampleFiles::dir;

}  // namespace

TEST_F(SampleFiles, TablesAndSchema) {
  EXPECT_EQ(Capture([](std::FILE* f) { ListTables(File("dha.abs"), {}, f); }),
            "DhaHistory\nDhaBlacklist\n");
  const std::string schema =
      Capture([](std::FILE* f) { WriteSchema(File("greylist.abs"), "grey", {}, f); });
  EXPECT_EQ(schema.substr(0, schema.find('\n')), "grey: 400 records");
  EXPECT_NE(schema.find("  GREY_ID\tAUTOINC\t0\toptional\n"), std::string::npos);
  EXPECT_NE(schema.find("  GREY_IP\tSTRING\t45\trequired\n"), std::string::npos);
  EXPECT_NE(schema.find("  GREY_LASTHIT\tDATETIME\t0\toptional\n"), std::string::npos);
}

TEST_F(SampleFiles, GreyDumpReadsBackConsistentRows) {
  const std::string out = Capture([](std::FILE* f) {
    EXPECT_EQ(DumpTable(File("greylist.abs"), "GREY", TDumpFormat::JsonLines, {}, f), 400);
  });
  const auto rows = Lines(out);
  ASSERT_EQ(rows.size(), 400u);
  int withSig = 0, nonAscii = 0, v6 = 0, nullLastHit = 0;
  for (size_t i = 0; i < rows.size(); ++i) {
    const auto& r = rows[i];
    EXPECT_EQ(r["GREY_ID"], int(i + 1));
    const std::string ip = r["GREY_IP"], sender = r["GREY_SENDER"], rcpt = r["GREY_RECIPIENT"];
    EXPECT_EQ(r["GREY_SIGNATURE"].get<std::string>().size(), 32u);
    // The stored signature was computed from the written text: the text came back unchanged
    // (non-ASCII letters included) through the 1252 encoding and decoding.
    if (!r["GREY_SIGNATURE_24"].is_null()) {
      ++withSig;
      EXPECT_EQ(r["GREY_SIGNATURE_24"], SampleSignature24(ip, sender, rcpt)) << i;
    }
    for (unsigned char c : sender + rcpt) nonAscii += c >= 0x80;
    v6 += ip.find(':') != std::string::npos;
    nullLastHit += r["GREY_LASTHIT"].is_null();
    const std::string created = r["GREY_CREATED"];
    EXPECT_TRUE(created >= "2025-12-01" && created < "2026-12-01") << created;
    if (!r["GREY_LASTHIT"].is_null()) {
      EXPECT_GE(r["GREY_LASTHIT"].get<std::string>(), created);
    }
  }
  EXPECT_GT(withSig, 100);
  EXPECT_LT(withSig, 400);
  EXPECT_GT(nonAscii, 0);
  EXPECT_GT(v6, 0);
  EXPECT_GT(nullLastHit, 0);
}

TEST_F(SampleFiles, SameSeedSameData) {
  const std::string other = TempDir("again");
  TSampleOptions o;
  o.Rows = 400;
  o.Seed = 7;
  WriteSampleDatabases(other, o);
  for (const char* t : {"DhaHistory", "DhaBlacklist"}) {
    auto dump = [&](const std::string& d) {
      return Capture([&](std::FILE* f) {
        DumpTable((fs::path(d) / "dha.abs").string(), t, TDumpFormat::Csv, {}, f);
      });
    };
    EXPECT_EQ(dump(dir), dump(other)) << t;
  }
  // The blacklist holds only IPv4 texts (at most 15 characters).
  for (const auto& r : Lines(Capture([](std::FILE* f) {
         DumpTable(File("dha.abs"), "DhaBlacklist", TDumpFormat::JsonLines, {}, f);
       }))) {
    EXPECT_LE(r["IpAddress"].get<std::string>().size(), 15u);
  }
  fs::remove_all(other);
}

#if defined(MRVDBTOOL_EXE) && !defined(_WIN32)
namespace {
int RunToolExe(const std::string& args) {
  const int rc = std::system((std::string("\"") + MRVDBTOOL_EXE + "\" " + args).c_str());
  return WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
}
}  // namespace

TEST_F(SampleFiles, BinaryExitStatusAndOutput) {
  const std::string out = (fs::path(dir) / "out.txt").string();
  const std::string err = (fs::path(dir) / "err.txt").string();
  EXPECT_EQ(RunToolExe("dump \"" + File("aswl.abs") + "\" ASWL --format csv > \"" + out + "\""), 0);
  const std::string expected =
      Capture([](std::FILE* f) { DumpTable(File("aswl.abs"), "ASWL", TDumpFormat::Csv, {}, f); });
  std::ifstream in(out, std::ios::binary);
  std::string got((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_EQ(got, expected);

  EXPECT_EQ(RunToolExe("dump \"" + File("aswl.abs") + "\" NOPE 2> \"" + err + "\""), 1);
  std::ifstream e(err);
  std::string line;
  std::getline(e, line);
  EXPECT_EQ(line, "Table 'NOPE' not exists. - Native error: " +
                      std::to_string(edb::errc::kTableNotFound));
  EXPECT_EQ(RunToolExe("dump 2>/dev/null"), 2);
  EXPECT_EQ(RunToolExe("dump x y --format xml 2>/dev/null"), 2);
  EXPECT_EQ(RunToolExe("frobnicate 2>/dev/null"), 2);
  EXPECT_EQ(RunToolExe("dump --help >/dev/null"), 0);
  EXPECT_EQ(RunToolExe("sample --help >/dev/null"), 0);
}
#endif
