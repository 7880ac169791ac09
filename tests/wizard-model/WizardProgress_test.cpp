// The coalescing progress channel between a run's worker and the wizard window.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "WizardProgress_un.h"

using mrv::TProgressSlot;

TEST(WizardProgress, AMillionReportsWithoutAReaderPostOnceAndTheLastWins) {
  TProgressSlot slot;
  const std::uint64_t step = slot.BeginStep();
  EXPECT_FALSE(slot.StatusShown(step).has_value());
  int posts = 0;
  for (std::int64_t i = 1; i <= 1000000; ++i)
    if (slot.Store(i, 1000000)) ++posts;
  EXPECT_EQ(posts, 1);
  auto v = slot.TakeForProgressMessage();
  ASSERT_TRUE(v.has_value());
  EXPECT_EQ(v->Done, 1000000);
  EXPECT_EQ(v->Total, 1000000);
  EXPECT_FALSE(slot.TakeForProgressMessage().has_value());  // nothing new
  EXPECT_TRUE(slot.Store(5, 6));                            // the next report posts again
}

TEST(WizardProgress, PostsStayBoundedByTheMessagesTheWindowHandled) {
  TProgressSlot slot;
  slot.StatusShown(slot.BeginStep());
  std::atomic<int> queued{0};
  std::atomic<bool> done{false};
  std::atomic<int> handled{0};
  std::int64_t lastSeen = -1;
  std::thread window([&] {
    while (!done.load() || queued.load() > 0) {
      if (queued.load() > 0) {
        queued.fetch_sub(1);
        if (auto v = slot.TakeForProgressMessage()) lastSeen = v->Done;
        handled.fetch_add(1);
      } else {
        std::this_thread::yield();
      }
    }
  });
  int posts = 0;
  for (std::int64_t i = 1; i <= 1000000; ++i) {
    if (slot.Store(i, 1000000)) {
      ++posts;
      queued.fetch_add(1);
      // Never more than one progress message in the queue.
      EXPECT_LE(queued.load(), 1);
    }
  }
  done.store(true);
  window.join();
  EXPECT_EQ(posts, handled.load());
  EXPECT_EQ(lastSeen, 1000000);
}

TEST(WizardProgress, AValueNeverCrossesAStatusLine) {
  TProgressSlot slot;
  slot.StatusShown(slot.BeginStep());
  // Step 1's report posts a message; before the window reads it, the worker sends the status
  // line of step 2 and reports progress of step 2 (no second post: one is pending).
  EXPECT_TRUE(slot.Store(900, 1000));
  const std::uint64_t step2 = slot.BeginStep();
  EXPECT_FALSE(slot.Store(3, 50));
  // The pending progress message is handled while step 1 is on show: step 2's value must not
  // be drawn there (the status line would reset it a moment later).
  EXPECT_FALSE(slot.TakeForProgressMessage().has_value());
  // The status line of step 2 arrives and brings step 2's value with it.
  auto v = slot.StatusShown(step2);
  ASSERT_TRUE(v.has_value());
  EXPECT_EQ(v->Done, 3);
  EXPECT_EQ(v->Total, 50);
  EXPECT_FALSE(slot.TakeForProgressMessage().has_value());
}

TEST(WizardProgress, AnOldValueIsNotReappliedAfterAStatusLine) {
  TProgressSlot slot;
  slot.StatusShown(slot.BeginStep());
  EXPECT_TRUE(slot.Store(10, 10));
  ASSERT_TRUE(slot.TakeForProgressMessage().has_value());
  const std::uint64_t step2 = slot.BeginStep();
  EXPECT_FALSE(slot.StatusShown(step2).has_value());
  EXPECT_FALSE(slot.TakeForProgressMessage().has_value());
  slot.PostFailed();
  EXPECT_TRUE(slot.Store(1, 2));
}
