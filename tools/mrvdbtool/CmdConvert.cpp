// Subcommand convert: one conversion run from the command line. Sources, targets and the source
// files' password come from the options (ToolTaskOptions) or from the installed product's
// configuration; the run's status lines are
// printed as they come on stdout, the whole-run progress bar (ToolProgressBar) goes to stderr
// when that is a terminal, and a summary of what the run did follows (ToolSummary). Ctrl+C,
// SIGTERM and SIGHUP (on Windows also closing the console, logging off and shutting down)
// cancel the run, which then restarts the service if it stopped it and removes its copies; a
// second request is ignored while the run winds down.
//
// Exit status: 0 success, 1 error (the run's error text on stderr), 3 cancelled. When the run
// may have left the service stopped, the wizard's notice follows on stderr: "Could not
// automatically restart the Mrv Service." / "Could not stop the Mrv Service." with what to do.
// Status lines and messages quote text from files and servers only through
// EscapeControlChars.
#include <CLI/CLI.hpp>

#include <array>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <memory>
#include <mutex>
#include <thread>

#include "CmdConvertConsole.h"
#include "DbConverterThread_un.h"
#include "DbTransfer_un.h"
#include "ToolCommands.h"
#include "ToolFormat.h"
#include "ToolDryRun.h"
#include "ToolProgressBar.h"
#include "ToolQuestion.h"
#include "ToolSummary.h"
#include "ToolTaskOptions.h"
#include "ToolVerifyRun.h"

namespace mrvtool {
namespace {

using mrv::TDatabaseKind;

struct ConvertOptions {
  TTaskOptions Tasks;
  std::string Existing = "ask";
  std::string Service = mrv::MrvServiceName;
  std::string SummaryJson;
  std::string Progress = "auto";
  bool Quiet = false;
  bool NoService = false;
  bool CreateSchema = false;
  bool DryRun = false;
  bool Verify = false;
};

std::uint32_t NowTick() {
  return static_cast<std::uint32_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                        std::chrono::steady_clock::now().time_since_epoch())
                                        .count());
}

// Prints status lines (unless quiet) and the whole-run progress bar where one is wanted; the
// current table's name comes from the transfer that reports the progress.
class ConsoleReporter {
 public:
  ConsoleReporter(std::FILE* barOut, int databases, bool quiet,
                  const std::array<mrv::TDbTransfer*, 4>& transfers)
      : bar_(barOut, databases), quiet_(quiet), transfers_(transfers) {}

  void Status(const std::string& text) {
    std::lock_guard<std::mutex> lock(lock_);
    bar_.Clear();
    if (!quiet_) {
      std::printf("%s\n", EscapeControlChars(ConsoleText(text, ""), true).c_str());
      if (std::fflush(stdout) != 0) NoteOutputError(errno);
    }
    const int stage = bar_.Stage();
    bar_.Status(text, NowTick());
    if (bar_.Stage() == stage) return;  // not the start of a stage
    converting_ = -1;
    for (int k = 0; k < mrv::DatabaseKindCount; ++k)
      if (text == std::string("Converting the ") + mrv::DatabaseDisplayName(TDatabaseKind(k)) +
                      " database...")
        converting_ = k;
  }

  void Progress(std::int64_t done, std::int64_t total) {
    std::lock_guard<std::mutex> lock(lock_);
    const mrv::TDbTransfer* t = converting_ >= 0 ? transfers_[converting_] : nullptr;
    bar_.Progress(done, total, t ? t->CopyingTable() : "", NowTick());
  }

  // Runs `f` with the progress line cleared (for questions).
  template <class F>
  auto Exclusive(F f) {
    std::lock_guard<std::mutex> lock(lock_);
    bar_.Clear();
    return f();
  }

  void Finish() {
    std::lock_guard<std::mutex> lock(lock_);
    bar_.Clear();
  }

 private:
  TProgressBar bar_;
  bool quiet_;
  const std::array<mrv::TDbTransfer*, 4>& transfers_;
  std::mutex lock_;
  int converting_ = -1;
};

// Asked on standard error, so that it reaches the terminal also when the output is piped.
mrv::TTargetNotEmptyAnswer AskOnTerminal(ConsoleReporter& reporter, TDatabaseKind kind,
                                         const std::string& target) {
  const std::string question = ExistingRowsQuestion(kind, CountTargetDatabaseRows(target, kind));
  return reporter.Exclusive([&] {
    for (;;) {
      std::fprintf(stderr, "%s", question.c_str());
      std::fflush(stderr);
      std::string line;
      if (!ReadAnswerLine(line)) {
        std::fprintf(stderr, "\n");
        return mrv::taCancel;
      }
      if (const auto answer = ParseExistingRowsAnswer(line)) return *answer;
    }
  });
}

// Prints the summary of what the run did (after success, an error or a cancel), then the error
// and notices; writes the summary file when asked; answers the exit status.
int ReportOutcome(const mrv::TDbConverter& converter, const mrv::TDbConversionInfo& info,
                  const std::array<mrv::TDbTransfer*, 4>& transfers, const char* serviceNotice,
                  const std::string& summaryJson) {
  const std::string error = info.GetError();
  int exitCode = 0;
  TRunOutcome outcome = TRunOutcome::Success;
  if (!converter.Succeeded()) {
    const bool cancelled = error.empty() && info.Cancelled;
    exitCode = cancelled ? 3 : 1;
    outcome = cancelled ? TRunOutcome::Cancelled : TRunOutcome::Error;
  }
  const TRunSummary summary = CollectRunSummary(transfers, outcome, exitCode);
  if (!summary.Tables.empty()) PrintRunSummary(summary, stdout);
  if (std::fflush(stdout) != 0) NoteOutputError(errno);
  if (!summaryJson.empty()) {
    try {
      WriteRunSummaryJson(summary, summaryJson);
    } catch (const std::exception& e) {
      std::fprintf(stderr, "%s\n", EscapeControlChars(e.what(), true).c_str());
      if (exitCode == 0) exitCode = 1;
    }
  }
  if (converter.Succeeded()) {
    // The status lines may not have reached anyone: say the outcome where it is seen.
    if (std::ferror(stdout)) std::fprintf(stderr, "Conversion finished successfully.\n");
    return exitCode;
  }
  if (!error.empty())
    std::fprintf(stderr, "%s\n", EscapeControlChars(ConsoleText(error, ""), true).c_str());
  else if (!info.Cancelled)
    std::fprintf(stderr, "The conversion did not complete.\n");
  if (std::ferror(stdout) && info.Cancelled) std::fprintf(stderr, "Conversion cancelled.\n");
  if (serviceNotice) std::fprintf(stderr, "%s\n", serviceNotice);
  return exitCode;
}

int DryRun(const ConvertOptions& o, mrv::TDbConversionInfo& info) {
  TDryRunSettings dry;
  dry.ServiceName = o.NoService ? std::string() : o.Service;
  dry.Existing = o.Existing;
  dry.CanAsk = StdinIsTerminal();
  dry.CreateSchema = o.CreateSchema;
  dry.CodePage = o.Tasks.CodePage;
  return DryRunConversion(info, dry, stdout);
}

// What happens to rows already in a target: the --existing answer, the question on a terminal,
// or, with no one to ask, a stop with an error that says how to choose.
void AnswerTargetNotEmpty(const ConvertOptions& o, mrv::TDbConversionInfo& info,
                          ConsoleReporter& reporter, TDatabaseKind kind,
                          mrv::TTargetNotEmptyAnswer& answer) {
  if (o.Existing == "delete") {
    answer = mrv::taDelete;
  } else if (o.Existing == "keep") {
    answer = mrv::taKeep;
  } else if (o.Existing == "cancel") {
    answer = mrv::taCancel;
  } else if (StdinIsTerminal()) {
    answer = AskOnTerminal(reporter, kind, info.Task(kind).TargetConnectionString);
  } else {
    info.SetError(std::string("The target ") + mrv::DatabaseDisplayName(kind) +
                  " database is not empty and there is no terminal to ask what to do with its "
                  "rows.\r\nRun again with --existing delete, --existing keep or --existing "
                  "cancel.");
    answer = mrv::taKeep;
  }
}

// The run's callbacks: status lines and progress to the console, the answer for a target that
// holds rows, and the service notice (said last, on stderr, in the wizard's words).
void ConnectCallbacks(const ConvertOptions& o, mrv::TDbConversionInfo& info,
                      ConsoleReporter& reporter, const char*& serviceNotice) {
  info.OnStatus = [&reporter](const std::string& text) { reporter.Status(text); };
  info.OnProgress = [&reporter](std::int64_t d, std::int64_t t) { reporter.Progress(d, t); };
  info.OnTargetNotEmpty = [&o, &info, &reporter](TDatabaseKind kind,
                                                 mrv::TTargetNotEmptyAnswer& answer) {
    AnswerTargetNotEmpty(o, info, reporter, kind, answer);
  };
  info.OnBeforeServiceStop = [](bool&) {};
  info.OnServiceProblem = [&serviceNotice](bool wasStopped) {
    serviceNotice =
        wasStopped ? "Could not automatically restart the Mrv Service.\nPlease start it manually."
                   : "Could not stop the Mrv Service.\nIt might have to be started manually.";
  };
}

// One transfer per database, remembered for the progress bar and the summary; the target tables
// are made by the transfer after the checks when asked.
mrv::TDbTransferFactory TransferFactory(const ConvertOptions& o,
                                        std::array<mrv::TDbTransfer*, 4>& transfers) {
  const std::uint32_t codePage = o.Tasks.CodePage;
  const bool createSchema = o.CreateSchema;
  return [&transfers, codePage, createSchema](mrv::TDbConversionInfo& i, TDatabaseKind kind) {
    auto t = std::make_unique<mrv::TDbTransfer>(i, kind, codePage);
    t->SetCreateSchema(createSchema);
    transfers[kind] = t.get();
    return std::unique_ptr<mrv::IDbTransfer>(std::move(t));
  };
}

// Waits for the worker thread, turning the first interrupt (Ctrl+C, SIGTERM, SIGHUP, console
// close) into a cancel; later ones are ignored while the run winds down.
void WaitForRun(mrv::TDbConverterThread& thread) {
  bool cancelSent = false;
  while (!thread.Finished()) {
    if (!cancelSent && InterruptCount() > 0) {
      cancelSent = true;
      thread.Cancel();
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  thread.WaitFor();
}

int RunConvert(const ConvertOptions& o) {
  mrv::TDbConversionInfo info;
  BuildTasks(o.Tasks, info);
  if (o.DryRun) return DryRun(o, info);

  std::array<mrv::TDbTransfer*, 4> transfers{};
  int databases = 0;
  for (int k = 0; k < mrv::DatabaseKindCount; ++k)
    databases += info.Task(TDatabaseKind(k)).Selected;
  const bool bar =
      !o.Quiet && (o.Progress == "always" || (o.Progress == "auto" && StderrIsTerminal()));
  ConsoleReporter reporter(bar ? stderr : nullptr, databases, o.Quiet, transfers);
  const char* serviceNotice = nullptr;
  ConnectCallbacks(o, info, reporter, serviceNotice);

  mrv::TDbTransferFactory factory = TransferFactory(o, transfers);
  TConvertVerification verification(o.Tasks.CodePage);
  if (o.Verify) factory = verification.Wrap(factory);

  InstallInterruptHandler();
  mrv::TDbConverterThread thread;
  thread.Setup(info, factory);
  thread.Converter()->SetServiceName(o.NoService ? std::string() : o.Service);
  thread.Start();
  WaitForRun(thread);
  reporter.Finish();
  int exitCode = ReportOutcome(*thread.Converter(), info, transfers, serviceNotice, o.SummaryJson);
  if (exitCode == 0 && o.Verify) exitCode = verification.Finish(info, stdout);
  SignalRunEnded();
  return exitCode;
}

const bool kConvert = RegisterToolCommand("convert", [](CLI::App& app, int& exitCode) {
  auto* sub = app.add_subcommand("convert",
                                 "Convert the mail-filter databases into their External Databases");
  auto o = std::make_shared<ConvertOptions>();
  AddTaskOptions(sub, o->Tasks);
  sub->add_option("--existing", o->Existing,
                  "What to do with rows already in a target: ask (terminal only), delete, keep, "
                  "cancel")
      ->check(CLI::IsMember({"ask", "delete", "keep", "cancel"}));
  sub->add_option("--service", o->Service,
                  "Service stopped while the copies are made (default MRVSVC)");
  sub->add_flag("--no-service", o->NoService, "Do not stop and restart any service");
  sub->add_flag("--create-schema", o->CreateSchema, "Create missing target tables first");
  auto* dryRun = sub->add_flag(
      "--dry-run", o->DryRun,
      "Make every check of a run and print the plan; stop, copy and write nothing (exit status "
      "0 when a real run would start, 1 otherwise)");
  sub->add_flag("--verify", o->Verify,
                "After the run, compare every table with its source (exit status 4 on a "
                "difference)")
      ->excludes(dryRun);
  sub->add_option("--summary-json", o->SummaryJson,
                  "Also write the summary (per table: source rows, rows before, deleted, inserted, "
                  "rows after, seconds, rows/s; the outcome) as JSON to this file")
      ->excludes(dryRun);
  sub->add_option("--progress", o->Progress,
                  "Whole-run progress bar on standard error: auto (when it is a terminal), "
                  "always, never")
      ->check(CLI::IsMember({"auto", "always", "never"}));
  sub->add_flag("--quiet", o->Quiet,
                "No progress bar and no status lines; the summary, errors and notices remain");
  sub->callback([o, &exitCode] { exitCode = RunConvert(*o); });
});

}  // namespace
}  // namespace mrvtool
