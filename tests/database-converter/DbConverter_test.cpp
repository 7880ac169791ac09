// The conversion procedure run end to end with stand-in transfers and a scripted service.
#include <gtest/gtest.h>

#include <filesystem>

#include "DbConverter_un.h"
#include "FileDuplication_un.h"
#include "RunTestSupport.h"

using namespace mrv;
using mrvtest::TPrivateTempDir;
using Lines = std::vector<std::string>;

namespace {

struct RunFixture : ::testing::Test {
  TPrivateTempDir tmp;
  TDbConversionInfo info;
  mrvtest::TStatusLog log;
  mrvtest::TFakeTransfer::TShared shared;
  std::shared_ptr<mrvtest::TScriptedServices> services =
      std::make_shared<mrvtest::TScriptedServices>();
  std::vector<bool> serviceProblems;  // the arguments OnServiceProblem received

  RunFixture() {
    log.Attach(info);
    info.OnServiceProblem = [this](bool wasStopped) { serviceProblems.push_back(wasStopped); };
  }
  void Select(TDatabaseKind kind, const std::string& path) {
    info.Tasks[kind].Selected = true;
    info.Tasks[kind].SourcePath = path;
    info.Tasks[kind].TargetConnectionString = "Provider=SQLite;Data Source=x.db";
  }
  std::unique_ptr<TDbConverter> Make() {
    return std::make_unique<TDbConverter>(info, mrvtest::FakeTransferFactory(shared), services);
  }
  void TearDown() override {
    EXPECT_TRUE(tmp.TempCopies().empty()) << "a temporary copy was left behind";
  }
};

const Lines kServiceStop = {"Stopping the Mrv service...", "Stopped the Mrv service."};

}  // namespace

TEST_F(RunFixture, CleanRunLogsEveryStageInOrderAndLeavesServiceRunning) {
  Select(dkGrey, tmp.MakeFile("grey.abs", 300000));
  auto converter = Make();
  converter->Run();

  const Lines expected = {"Database conversion started.",
                          "connect Greylisting",
                          "Stopping the Mrv service...",
                          "Stopped the Mrv service.",
                          "Creating temporary copy of the Greylisting database...",
                          "Finished creating temporary copies.",
                          "Restarting the Mrv service...",
                          "Mrv service started.",
                          "check Greylisting",
                          "transfer Greylisting",
                          "Removing temporary files...",
                          "Finished removing the temporary files.",
                          "Conversion finished successfully."};
  EXPECT_EQ(log.Lines(), expected);
  EXPECT_TRUE(converter->Succeeded());
  EXPECT_EQ(info.GetError(), "");
  EXPECT_TRUE(shared.copyMismatch.empty());
  EXPECT_TRUE(services->running);
  EXPECT_TRUE(serviceProblems.empty());
  // Both waits give a slow service five minutes without progress.
  EXPECT_EQ(services->timeouts, (std::vector<std::uint32_t>{300000, 300000}));
}

TEST_F(RunFixture, AbsentOrStoppedServiceIsLeftAloneButCopiesAreMade) {
  for (int variant = 0; variant < 2; ++variant) {
    TPrivateTempDir inner;
    TDbConversionInfo runInfo;
    mrvtest::TStatusLog runLog;
    runLog.Attach(runInfo);
    bool problem = false;
    runInfo.OnServiceProblem = [&](bool) { problem = true; };
    runInfo.Tasks[dkAswl] = {true, inner.MakeFile("aswl.abs", 10), "conn", std::nullopt};
    runInfo.Tasks[dkHoneypot] = {true, inner.MakeFile("honeypot.abs", 20), "conn", std::nullopt};
    auto svc = std::make_shared<mrvtest::TScriptedServices>();
    svc->exists = variant == 1;
    svc->running = false;
    TDbConverter converter(runInfo, mrvtest::FakeTransferFactory(shared), svc);
    converter.Run();

    const Lines expected = {"Database conversion started.",
                            "connect Automatic Sender Whitelist",
                            "connect Honeypot",
                            "Creating temporary copy of the Automatic Sender Whitelist database...",
                            "Creating temporary copy of the Honeypot database...",
                            "Finished creating temporary copies.",
                            "check Automatic Sender Whitelist",
                            "check Honeypot",
                            "transfer Automatic Sender Whitelist",
                            "transfer Honeypot",
                            "Removing temporary files...",
                            "Finished removing the temporary files.",
                            "Conversion finished successfully."};
    EXPECT_EQ(runLog.Lines(), expected) << "variant " << variant;
    EXPECT_EQ(svc->stops + svc->starts, 0);
    EXPECT_FALSE(problem);
    EXPECT_TRUE(inner.TempCopies().empty());
  }
}

TEST_F(RunFixture, StopFailureOrTimeOutAbortsWithoutRestartOrCopies) {
  struct Case {
    std::uint8_t outcome;
    std::string text, cause;
  } cases[] = {{soError, "Access is denied.", "Access is denied."},
               {soTimedOut, "", "Timeout error while wating for the Mrv service to stop."}};
  for (const auto& c : cases) {
    TDbConversionInfo runInfo;
    mrvtest::TStatusLog runLog;
    runLog.Attach(runInfo);
    std::vector<bool> problems;
    runInfo.OnServiceProblem = [&](bool stopped) { problems.push_back(stopped); };
    runInfo.Tasks[dkDha] = {true, tmp.MakeFile("dha.abs", 10), "conn", std::nullopt};
    auto svc = std::make_shared<mrvtest::TScriptedServices>();
    svc->stop = {c.outcome, c.text, false};
    TDbConverter converter(runInfo, mrvtest::FakeTransferFactory(shared), svc);
    converter.Run();

    EXPECT_EQ(runInfo.GetError(), "Could not stop the Mrv service.\r\n\r\n\"" + c.cause + "\"");
    const Lines expected = {"Database conversion started.", "connect DHA Protection",
                            "Stopping the Mrv service...",
                            "Conversion was aborted due to an error."};
    EXPECT_EQ(runLog.Lines(), expected);  // no copy made: no removal lines either
    EXPECT_EQ(svc->starts, 0);
    EXPECT_EQ(problems, std::vector<bool>{false});
    EXPECT_FALSE(converter.ServiceStopped());
  }
}

TEST_F(RunFixture, RestartFailureIsTheErrorAndCopiesAreStillRemoved) {
  Select(dkAswl, tmp.MakeFile("aswl.abs", 1000));
  services->start = {soError, "The service did not respond.", false};
  auto converter = Make();
  converter->Run();

  EXPECT_EQ(info.GetError(),
            "Could not restart the Mrv service.\r\n\r\n\"The service did not respond.\"");
  const Lines expected = {"Database conversion started.",
                          "connect Automatic Sender Whitelist",
                          "Stopping the Mrv service...",
                          "Stopped the Mrv service.",
                          "Creating temporary copy of the Automatic Sender Whitelist database...",
                          "Finished creating temporary copies.",
                          "Restarting the Mrv service...",
                          "Removing temporary files...",
                          "Finished removing the temporary files.",
                          "Conversion was aborted due to an error."};
  EXPECT_EQ(log.Lines(), expected);
  EXPECT_TRUE(shared.transferred.empty());
  EXPECT_EQ(serviceProblems, std::vector<bool>{true});
}

TEST_F(RunFixture, CopyThatCannotBeRemovedIsOnlyAStatusLine) {
  Select(dkGrey, tmp.MakeFile("g.abs", 10));
  std::string copy;
  shared.onTransfer = [&](const std::string& path) {
    copy = path;
    std::filesystem::remove(path);
  };
  auto converter = Make();
  converter->Run();
  const Lines lines = log.Lines();
  ASSERT_GE(lines.size(), 4u);
  const Lines tail(lines.end() - 4, lines.end());
  const Lines expected = {"Removing temporary files...",
                          "Could not remove temporary database copy \r\n'" + copy +
                              "'.\r\n\r\nError: \"" + TFileDuplication::SystemErrorText(2) + "\"",
                          "Finished removing the temporary files.",
                          "Conversion finished successfully."};
  EXPECT_EQ(tail, expected);
  EXPECT_EQ(info.GetError(), "");
}

TEST_F(RunFixture, FreeSpaceOfTheTempFolderItselfIsCheckedAgainstSummedSizes) {
  // One byte short fails with the shortfall; exactly enough passes.
  for (std::int64_t slack : {-1, 0}) {
    TPrivateTempDir inner;
    TDbConversionInfo runInfo;
    mrvtest::TStatusLog runLog;
    runLog.Attach(runInfo);
    runInfo.Tasks[dkAswl] = {true, inner.MakeFile("a.abs", 1500), "conn", std::nullopt};
    runInfo.Tasks[dkGrey] = {true, inner.MakeFile("g.abs", 2500), "conn", std::nullopt};
    auto svc = std::make_shared<mrvtest::TScriptedServices>();
    TDbConverter converter(runInfo, mrvtest::FakeTransferFactory(shared), svc);
    std::string askedFolder;
    converter.SetFreeSpaceQuery([&](const std::string& folder) {
      askedFolder = folder;
      return 4000 + slack;
    });
    converter.Run();

    EXPECT_EQ(askedFolder, inner.Folder());  // the folder, not a drive root
    EXPECT_TRUE(svc->running);               // restarted in both cases
    EXPECT_EQ(svc->starts, 1);
    if (slack < 0) {
#ifdef _WIN32
      const std::string drive = inner.Path().substr(0, 1);
#else
      const std::string drive = inner.Folder();
#endif
      EXPECT_EQ(runInfo.GetError(),
                "There is not enough space on drive " + drive + ".\r\n1 additional bytes needed.");
      EXPECT_FALSE(
          runLog.Has("Creating temporary copy of the Automatic Sender Whitelist database..."));
    } else {
      EXPECT_EQ(runInfo.GetError(), "");
      EXPECT_TRUE(converter.Succeeded());
    }
    EXPECT_TRUE(inner.TempCopies().empty());
  }
}

TEST_F(RunFixture, PathWithPercentInIsADirectoryErrorIsKeptLiterally) {
  // The source turns into a directory after validation: the size check reports it, and the
  // path is text, not a format.
  const std::string path = tmp.MakeFile("odd%s%d%n.abs", 10);
  Select(dkHoneypot, path);
  shared.onConnect = [&](TDatabaseKind) {
    std::filesystem::remove(path);
    std::filesystem::create_directory(path);
  };
  auto converter = Make();
  converter->Run();
  EXPECT_EQ(info.GetError(), "File '" + path + "' is a directory.");
  EXPECT_TRUE(services->running);
}

TEST_F(RunFixture, FirstOfTwoCopiesFailingStopsTheCopyStage) {
  mrvtest::TUnreadableSource unreadable(tmp);
  Select(dkAswl, unreadable.Path());
  Select(dkGrey, tmp.MakeFile("g.abs", 100));
  auto converter = Make();
  converter->Run();

  const std::string error = info.GetError();
  const std::string start = "Failed to duplicate file '" + unreadable.Path() +
                            ".'\r\n\r\nError EOSError.\r\n\"System Error.  Code: ";
  EXPECT_EQ(error.rfind(start, 0), 0u) << error;
  const Lines expected = {"Database conversion started.",
                          "connect Automatic Sender Whitelist",
                          "connect Greylisting",
                          "Stopping the Mrv service...",
                          "Stopped the Mrv service.",
                          "Creating temporary copy of the Automatic Sender Whitelist database...",
                          "Restarting the Mrv service...",
                          "Mrv service started.",
                          "Conversion was aborted due to an error."};
  EXPECT_EQ(log.Lines(), expected);
  EXPECT_TRUE(services->running);
}

TEST_F(RunFixture, CancelDuringALargeCopyRestartsServiceAndRemovesEarlierCopies) {
  if (mrvtest::RunningUnderWine()) GTEST_SKIP() << "the emulated file copy reports no progress";
  Select(dkAswl, tmp.MakeFile("small.abs", 5000));
  Select(dkGrey, tmp.MakeFile("large.abs", 8u << 20));
  auto converter = Make();
  mrvtest::TEvent firstLargeChunk, cancelled;
  std::vector<std::int64_t> progress;
  info.OnProgress = [&](std::int64_t done, std::int64_t total) {
    progress.push_back(done);
    if (total == (8 << 20) && !firstLargeChunk.IsSet()) {
      firstLargeChunk.Set();
      cancelled.Wait();  // hold the copy until the cancel has been made
    }
  };
  std::thread worker([&] { converter->Run(); });
  firstLargeChunk.Wait();
  converter->Cancel();
  cancelled.Set();
  worker.join();

  const Lines expected = {"Database conversion started.",
                          "connect Automatic Sender Whitelist",
                          "connect Greylisting",
                          "Stopping the Mrv service...",
                          "Stopped the Mrv service.",
                          "Creating temporary copy of the Automatic Sender Whitelist database...",
                          "Creating temporary copy of the Greylisting database...",
                          "Cancelling operation...",
                          "Restarting the Mrv service...",
                          "Mrv service started.",
                          "Removing temporary files...",
                          "Finished removing the temporary files.",
                          "Conversion cancelled."};
  EXPECT_EQ(log.Lines(), expected);
  EXPECT_EQ(progress.back(), 1 << 20);  // the large copy stopped after its first chunk
  EXPECT_TRUE(shared.transferred.empty());
  EXPECT_EQ(info.GetError(), "");
  EXPECT_TRUE(services->running);
  EXPECT_TRUE(serviceProblems.empty());
}

TEST_F(RunFixture, CancelWhileTheServiceStopsEndsWithoutRestart) {
  Select(dkGrey, tmp.MakeFile("g.abs", 10));
  services->stop.untilCancelled = true;
  auto converter = Make();
  std::thread worker([&] { converter->Run(); });
  services->operationWaiting.Wait();
  converter->Cancel();  // returns once the stop operation's thread has gone
  worker.join();

  const Lines expected = {"Database conversion started.", "connect Greylisting",
                          "Stopping the Mrv service...",  "Cancelling operation...",
                          "Stopped the Mrv service.",     "Conversion cancelled."};
  EXPECT_EQ(log.Lines(), expected);
  EXPECT_EQ(info.GetError(), "");
  EXPECT_FALSE(converter->ServiceStopped());
  EXPECT_EQ(services->starts, 0);
  EXPECT_EQ(serviceProblems, std::vector<bool>{false});
}

TEST_F(RunFixture, CancelAnsweredBeforeTheStopTouchesNothing) {
  Select(dkGrey, tmp.MakeFile("g.abs", 10));
  info.OnBeforeServiceStop = [](bool& cancel) { cancel = true; };
  auto converter = Make();
  converter->Run();
  EXPECT_EQ(log.Lines().back(), "Conversion cancelled.");
  EXPECT_TRUE(log.Has("Cancelling operation..."));
  EXPECT_EQ(services->stops, 0);
  EXPECT_FALSE(log.Has("Removing temporary files..."));
}

TEST_F(RunFixture, CancelJustBeforeTheStopIsRegisteredStopsNothing) {
  Select(dkGrey, tmp.MakeFile("g.abs", 10));
  std::unique_ptr<TDbConverter> converter = Make();
  // The user cancels after the run-state test, before the stop operation exists to be cancelled.
  info.OnBeforeServiceStop = [&](bool&) { converter->Cancel(); };
  converter->Run();
  EXPECT_EQ(services->stops, 0);
  EXPECT_EQ(services->starts, 0);
  EXPECT_TRUE(services->running);
  EXPECT_EQ(log.Lines().back(), "Conversion cancelled.");
  EXPECT_FALSE(log.Has("Stopped the Mrv service."));
  EXPECT_TRUE(serviceProblems.empty());
}

TEST_F(RunFixture, CancelWhileClearingLeavesTheServiceAloneAndCopiesNothing) {
  Select(dkAswl, tmp.MakeFile("a.abs", 10));
  Select(dkGrey, tmp.MakeFile("g.abs", 10));
  std::unique_ptr<TDbConverter> converter = Make();
  shared.onConnect = [&](TDatabaseKind kind) {
    if (kind == dkAswl) converter->Cancel();  // while the first target is being cleared
  };
  converter->Run();
  const Lines expected = {"Database conversion started.", "connect Automatic Sender Whitelist",
                          "Cancelling operation...", "Conversion cancelled."};
  EXPECT_EQ(log.Lines(), expected);
  EXPECT_EQ(services->stops, 0);
  EXPECT_EQ(services->starts, 0);
  EXPECT_TRUE(services->running);
  EXPECT_EQ(info.GetError(), "");
  EXPECT_FALSE(converter->Succeeded());
  EXPECT_TRUE(serviceProblems.empty());
}
