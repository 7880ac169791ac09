// The manual page is made from the program's help: every command and every option that
// `mrvdbtool --help-all` lists appears in it, so a page left over from an older build fails.
#include <gtest/gtest.h>

#include <regex>
#include <set>

#include "ToolProcess.h"

#ifdef MRVDBTOOL_MAN
TEST(ManualPage, NamesEveryCommandAndOptionOfTheHelp) {
  namespace fs = std::filesystem;
  const fs::path dir = fs::temp_directory_path() / "mrvdbtool_manpage";
  fs::create_directories(dir);
  const mrvtool::test::TToolResult help = mrvtool::test::RunTool("--help-all", dir);
  ASSERT_EQ(help.Exit, 0) << help.Err;
  // roff writes a minus as "\-".
  std::string page = mrvtool::test::ReadToolOutput(MRVDBTOOL_MAN);
  for (size_t p; (p = page.find("\\-")) != std::string::npos;) page.erase(p, 1);
  ASSERT_NE(page.find(".TH MRVDBTOOL \"1\""), std::string::npos) << page.substr(0, 300);

  std::set<std::string> names;
  const std::regex option("--[a-z][a-z0-9-]*");
  for (std::sregex_iterator it(help.Out.begin(), help.Out.end(), option), end; it != end; ++it)
    names.insert(it->str());
  for (const char* command :
       {"convert", "verify", "dump", "schema", "tables", "sample", "test-connection"})
    names.insert(command);
  EXPECT_TRUE(names.count("--dry-run"));
  for (const std::string& n : names) EXPECT_NE(page.find(n), std::string::npos) << n;
  EXPECT_NE(page.find("EXIT STATUS"), std::string::npos);
  fs::remove_all(dir);
}
#endif
