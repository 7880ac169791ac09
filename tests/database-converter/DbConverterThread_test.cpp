// The worker thread: completion after the run, escaped exceptions, cancel through the thread.
#include <gtest/gtest.h>

#include "DbConverterThread_un.h"
#include "RunTestSupport.h"

using namespace mrv;

namespace {

class EServiceQuery : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A service manager whose queries fail.
class TFailingServices : public mrvtest::TScriptedServices {
 public:
  bool ServiceExists(const std::string&) override {
    throw EServiceQuery("Could not open the manager.");
  }
};

}  // namespace

TEST(DbConverterThread, EscapedExceptionBecomesTheRunErrorBeforeCompletion) {
  mrvtest::TPrivateTempDir tmp;
  TDbConversionInfo info;
  mrvtest::TStatusLog log;
  log.Attach(info);
  info.Tasks[dkGrey] = {true, tmp.MakeFile("g.abs", 10), "conn", std::nullopt};
  mrvtest::TFakeTransfer::TShared shared;
  TDbConverterThread thread;
  thread.Setup(info, mrvtest::FakeTransferFactory(shared), std::make_shared<TFailingServices>());
  std::string errorAtCompletion;
  std::thread::id completionThread;
  thread.OnFinished = [&](TDbConverterThread& sender) {
    errorAtCompletion = sender.Info()->GetError();
    completionThread = std::this_thread::get_id();
  };
  thread.Start();
  thread.WaitFor();

  EXPECT_TRUE(thread.Finished());
  EXPECT_EQ(errorAtCompletion,
            "An unexpected error occured during the conversion.\r\nException EServiceQuery.\r\n"
            "\"Could not open the manager.\"");
  EXPECT_NE(completionThread, std::this_thread::get_id());
  EXPECT_EQ(log.Lines().back(), "Conversion was aborted due to an error.");
}

TEST(DbConverterThread, CancelReachesTheRunningProcedure) {
  mrvtest::TPrivateTempDir tmp;
  TDbConversionInfo info;
  mrvtest::TStatusLog log;
  log.Attach(info);
  info.Tasks[dkAswl] = {true, tmp.MakeFile("a.abs", 10), "conn", std::nullopt};
  mrvtest::TFakeTransfer::TShared shared;
  auto services = std::make_shared<mrvtest::TScriptedServices>();
  services->stop.untilCancelled = true;
  mrvtest::TEvent done;
  {
    TDbConverterThread thread;
    thread.Setup(info, mrvtest::FakeTransferFactory(shared), services);
    thread.OnFinished = [&](TDbConverterThread&) { done.Set(); };
    thread.Start();
    services->operationWaiting.Wait();
    thread.Cancel();
    done.Wait();
  }  // the destructor waits for the thread
  EXPECT_TRUE(info.Cancelled);
  EXPECT_EQ(info.GetError(), "");
  EXPECT_EQ(log.Lines().back(), "Conversion cancelled.");
  EXPECT_TRUE(tmp.TempCopies().empty());
}
