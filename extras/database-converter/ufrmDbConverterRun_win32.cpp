// The wizard window's background work: the connection test of a parameters page and the
// conversion run with its status lines, progress, questions and end.
#include "ufrmDbConverter_win32.h"

#include <commctrl.h>

#include "AdoConnectionTestThread_un.h"
#include "ufrmDbConverterIds.h"

namespace mrv {

// ---- connection test ----

void TfrmDbConverter::StartConnectionTest(int kind) {
  if (model_.ConnectionTestRunning()) return;
  const TKindControls& c = KindControls(kind);
  model_.ConnectionText[static_cast<std::size_t>(kind)] = EditText(c.ConnectionEdit);
  TMessageBox refusal;
  if (!model_.StartConnectionTest(kind, refusal)) {
    ShowBox(refusal);
    return;
  }
  // Buttons, inputs and the testing label follow the model's view; hourglass through
  // WM_SETCURSOR while the test runs.
  UpdateWizard();
  SetCursor(LoadCursorW(nullptr, MAKEINTRESOURCEW(32514)));  // IDC_WAIT
  auto test = std::make_unique<TAdoConnectionTestThread>(
      model_.ConnectionText[static_cast<std::size_t>(kind)]);
  HWND hwnd = hwnd_;
  test->OnTerminate = [hwnd](TAdoConnectionTestThread& sender) {
    // Hands the finished test to the window, which waits for the thread and frees it.
    PostMessageW(hwnd, WM_CONNECTION_TEST_DONE, 0, reinterpret_cast<LPARAM>(&sender));
  };
  test->Start();
  test.release();  // owned by the message from now on
}

void TfrmDbConverter::ConnectionTestFinished(LPARAM thread) {
  std::unique_ptr<TAdoConnectionTestThread> test(
      reinterpret_cast<TAdoConnectionTestThread*>(thread));
  test->WaitFor();
  int focus = 0;
  const TMessageBox box =
      model_.ConnectionTestFinished(test->Outcome(), test->ErrorMessage(), focus);
  test.reset();
  POINT pt;
  GetCursorPos(&pt);
  SetCursor(LoadCursorW(nullptr, MAKEINTRESOURCEW(32512)));  // IDC_ARROW
  SetCursorPos(pt.x, pt.y);  // lets the control under the mouse set its own cursor again
  for (int k = 0; k < DatabaseKindCount; ++k)
    ShowWindow(Item(KindControls(k).TestingLabel), SW_HIDE);
  try {
    ShowBox(box);
  } catch (...) {
  }
  UpdateWizard();
  if (focus) FocusControl(focus);
}

// ---- conversion run ----

void TfrmDbConverter::StartConversion() {
  auto info = std::make_unique<TDbConversionInfo>();
  model_.FillConversionInfo(*info);
  HWND hwnd = hwnd_;
  TProgressSlot* slot = &progress_;
  info->OnStatus = [hwnd, slot](const std::string& text) {
    auto* rec = new TStatusRec{Widen(text), slot->BeginStep()};
    if (!PostMessageW(hwnd, WM_CONVERSION_STATUS, reinterpret_cast<WPARAM>(rec), 0)) delete rec;
  };
  info->OnProgress = [hwnd, slot](std::int64_t done, std::int64_t total) {
    // At most one progress message waits in the queue; the window reads the latest value.
    if (slot->Store(done, total) && !PostMessageW(hwnd, WM_CONVERSION_PROGRESS, 0, 0))
      slot->PostFailed();
  };
  info->OnTargetNotEmpty = [this](TDatabaseKind kind, TTargetNotEmptyAnswer& answer) {
    answer = AskTargetNotEmpty(kind, [this](const TMessageBox& box) { return ShowBox(box); });
  };
  info->OnBeforeServiceStop = [](bool& cancel) { cancel = false; };
  info->OnServiceProblem = [this](bool serviceWasStopped) {
    ShowBox(ServiceProblemBox(serviceWasStopped));
  };

  estimateVisible_ = false;
  barPosition_ = 0;
  SendMessageW(Item(IDC_pbarConversion), PBM_SETPOS, 0, 0);
  info_ = std::move(info);
  try {
    auto thread = std::make_unique<TDbConverterThread>();
    thread->Setup(*info_);
    const unsigned slowCancelMs = options_.SlowCancelMs;
    TDbConversionInfo* run = info_.get();
    thread->OnFinished = [hwnd, slowCancelMs, run](TDbConverterThread&) {
      if (slowCancelMs && run->Cancelled.load()) Sleep(slowCancelMs);
      PostMessageW(hwnd, WM_CONVERSION_DONE, 0, 0);
    };
    thread_ = std::move(thread);
    thread_->Start();
  } catch (...) {
    thread_.reset();
    info_.reset();
    throw;
  }
}

void TfrmDbConverter::OnConversionStatus(WPARAM rec) {
  std::unique_ptr<TStatusRec> status(reinterpret_cast<TStatusRec*>(rec));
  SetWindowTextW(Item(IDC_lbCurrentOperation),
                 Widen(TRemainingTimeEstimate::OneLine(Narrow(status->Text))).c_str());
  barPosition_ = 0;
  SendMessageW(Item(IDC_pbarConversion), PBM_SETPOS, 0, 0);
  estimateVisible_ = false;
  ShowWindow(Item(IDC_lbEstimatedTimeRemaining), SW_HIDE);
  ShowWindow(Item(IDC_lbEstimatedTimeRemainingTitle), SW_HIDE);
  estimate_.StartStep(GetTickCount());
  if (auto value = progress_.StatusShown(status->Step)) ApplyProgress(*value);
}

void TfrmDbConverter::OnConversionProgress() {
  if (auto value = progress_.TakeForProgressMessage()) ApplyProgress(*value);
}

void TfrmDbConverter::ApplyProgress(const TProgressValue& value) {
  const TRemainingTimeEstimate::TUpdate update =
      estimate_.Progress(value.Done, value.Total, GetTickCount());
  if (update.Position != barPosition_) {
    barPosition_ = update.Position;
    SendMessageW(Item(IDC_pbarConversion), PBM_SETPOS, static_cast<WPARAM>(update.Position), 0);
  }
  if (update.ShowEstimate) {
    SetWindowTextW(Item(IDC_lbEstimatedTimeRemaining), Widen(update.Text).c_str());
    estimateVisible_ = true;
    const bool onPage = IsWindowVisible(Item(IDC_pbarConversion)) != FALSE;
    ShowWindow(Item(IDC_lbEstimatedTimeRemainingTitle), onPage ? SW_SHOWNA : SW_HIDE);
    ShowWindow(Item(IDC_lbEstimatedTimeRemaining), onPage ? SW_SHOWNA : SW_HIDE);
  }
}

void TfrmDbConverter::ConversionFinished() {
  if (!thread_) return;
  thread_->WaitFor();
  TRunOutcome outcome;
  try {
    outcome = model_.ConversionFinished(info_->GetError(), info_->Cancelled.load());
    if (outcome.State == wsFinishedWithError)
      SetWindowTextW(Item(IDC_memoConversionErrorInfo), Widen(outcome.ErrorText).c_str());
    if (outcome.Flash) Flash();
    if (outcome.PostClose) PostMessageW(hwnd_, WM_CLOSE, 0, 0);
    UpdateWizard();
  } catch (...) {
    thread_.reset();
    info_.reset();
    throw;
  }
  // The worker has ended; the procedure goes with the thread object, then the settings.
  thread_.reset();
  info_.reset();
}

void TfrmDbConverter::Flash() {
  FLASHWINFO fi{};
  fi.cbSize = sizeof fi;
  fi.hwnd = hwnd_;
  fi.dwFlags = FLASHW_ALL | FLASHW_TIMERNOFG;  // 15
  fi.uCount = 0;
  fi.dwTimeout = 0;
  FlashWindowEx(&fi);
}

}  // namespace mrv
