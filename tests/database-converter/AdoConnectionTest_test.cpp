// The connection test: its outcomes on real targets, the error text, and its thread.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>

#include "AdoConnectionTestThread_un.h"
#include "Ado.h"

namespace {

std::filesystem::path FreshDir() {
  static int n = 0;
  auto dir = std::filesystem::temp_directory_path() /
             ("mrv-conntest-" +
              std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()) + "-" +
              std::to_string(n++));
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir);
  return dir;
}

struct Result {
  std::uint8_t Outcome;
  std::string Message;
};

Result RunOnThread(const std::string& connectionString) {
  mrv::TAdoConnectionTestThread t(connectionString);
  std::atomic<int> calls{0};
  std::thread::id handlerThread;
  t.OnTerminate = [&](mrv::TAdoConnectionTestThread& sender) {
    EXPECT_EQ(&sender, &t);
    EXPECT_TRUE(sender.Finished());
    handlerThread = std::this_thread::get_id();
    ++calls;
  };
  t.Start();
  t.WaitFor();
  EXPECT_EQ(calls.load(), 1);
  EXPECT_NE(handlerThread, std::this_thread::get_id());
  return {t.Outcome(), t.ErrorMessage()};
}

TEST(AdoConnectionTest, SucceedsOnAReachableTarget) {
  auto dir = FreshDir();
  const std::string db = (dir / "target.db").string();
  {
    ado::Connection c;
    c.SetConnectionString("Provider=SQLite;Data Source=" + db + ";Create=yes");
    c.Open();
  }
  Result r = RunOnThread("Provider=SQLite;Data Source=" + db);
  EXPECT_EQ(r.Outcome, mrv::ctSucceeded);
  EXPECT_EQ(r.Message, "");
  EXPECT_EQ(mrv::ConnectionTestResultText(r.Outcome, r.Message), "Connection test was successful.");
  EXPECT_FALSE(mrv::ConnectionTestIsError(r.Outcome));
  std::filesystem::remove_all(dir);
}

TEST(AdoConnectionTest, PostgreSqlThroughOdbc) {
  const char* pg = std::getenv("MRV_PG_CONN");
  if (!pg) GTEST_SKIP() << "MRV_PG_CONN is not set; PostgreSQL tests skipped";
  EXPECT_EQ(RunOnThread(pg).Outcome, mrv::ctSucceeded);
  std::string wrong = pg;
  wrong = wrong.substr(0, wrong.find("Pwd=")) + "Pwd=Not-The-Password-9";
  Result r = RunOnThread(wrong);
  EXPECT_EQ(r.Outcome, mrv::ctOpenFailed);
  EXPECT_FALSE(r.Message.empty());
  EXPECT_EQ(r.Message.find("Not-The-Password-9"), std::string::npos);
}

TEST(AdoConnectionTest, FailureOutcomesFollowTheFailingStep) {
  auto dir = FreshDir();
  // Accepted string, but nothing to connect to: outcome 2 with the provider's text.
  Result open = RunOnThread("Provider=SQLite;Data Source=" + (dir / "absent.db").string());
  EXPECT_EQ(open.Outcome, mrv::ctOpenFailed);
  EXPECT_NE(open.Message.find("absent.db"), std::string::npos);
  EXPECT_EQ(mrv::ConnectionTestResultText(open.Outcome, open.Message),
            "Test failed, could not connect to the database.\r\nError message: " + open.Message);
  EXPECT_FALSE(std::filesystem::exists(dir / "absent.db"));

  Result driver = RunOnThread("Driver={Mrv Missing Driver};Server=h");
  EXPECT_EQ(driver.Outcome, mrv::ctOpenFailed);
  EXPECT_FALSE(driver.Message.empty());

  // A string that is rejected when assigned: outcome 3, password not echoed.
  for (const char* bad :
       {"Server=h;Uid=u;Pwd=Kept-Secret-5", "Driver={broken;Pwd=Kept-Secret-5", ""}) {
    Result r = RunOnThread(bad);
    EXPECT_EQ(r.Outcome, mrv::ctStringRejected) << bad;
    EXPECT_FALSE(r.Message.empty()) << bad;
    EXPECT_EQ(r.Message.find("Kept-Secret-5"), std::string::npos) << r.Message;
    EXPECT_EQ(mrv::ConnectionTestResultText(r.Outcome, r.Message),
              "Test failed, unexpected error.\r\nError message: " + r.Message);
  }
  std::filesystem::remove_all(dir);
}

#if !defined(_WIN32)
TEST(AdoConnectionTest, MissingProviderComponentIsOutcomeOne) {
  Result r = RunOnThread("Provider=SQLOLEDB;Data Source=srv;Initial Catalog=mrv");
  EXPECT_EQ(r.Outcome, mrv::ctCreateFailed);
  EXPECT_NE(r.Message.find("SQLOLEDB"), std::string::npos);
  EXPECT_EQ(mrv::ConnectionTestResultText(r.Outcome, r.Message),
            "There are problems with the Microsoft MDAC components on this system.\r\n"
            "Please contact our Technical Support for more information.\r\n\r\n"
            "Error message: " +
                r.Message);
  EXPECT_TRUE(mrv::ConnectionTestIsError(r.Outcome));
}
#endif

TEST(AdoConnectionTest, ExecuteRunsOnTheCallingThreadAndStartsOnlyOnce) {
  mrv::TAdoConnectionTestThread t("Server=h");
  t.Execute();
  EXPECT_EQ(t.Outcome(), mrv::ctStringRejected);
  mrv::TAdoConnectionTestThread once("Server=h");
  once.Start();
  EXPECT_THROW(once.Start(), std::logic_error);
  once.WaitFor();
  EXPECT_TRUE(once.Finished());
}

}  // namespace
