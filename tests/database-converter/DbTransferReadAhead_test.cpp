// The transfer's read-ahead: rows arrive in order across chunk boundaries, the reader's failure
// arrives after the rows before it, and stopping early neither hangs nor leaks, whether the
// reader is waiting for room or still reading. Then the transfer with the reader running: a
// source that breaks in the middle of a table, and a cancel while the reader is far ahead.
#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <stdexcept>

#include "DbTransferReadAhead_un.h"
#include "DbTransferTestFiles.h"
#include "DbTransfer_un.h"

namespace fs = std::filesystem;
using namespace mrv;
using namespace transfertest;

namespace {

// A reader of `rows` numbered rows that raises at row `failAt` (or never) and counts its calls.
TRowReadAhead::TReadRow Numbers(int rows, int failAt, std::atomic<int>& calls) {
  return [=, &calls](TTransferRow& row) {
    const int n = calls.fetch_add(1);
    if (n == failAt) throw std::runtime_error("read failed at " + std::to_string(n));
    if (n >= rows) return false;
    row.Values.assign(1, ado::Variant(std::int64_t{n}));
    row.Failure = nullptr;
    return true;
  };
}

}  // namespace

TEST(TransferReadAhead, RowsArriveInOrderAndTheFailureInItsPlace) {
  std::atomic<int> calls{0};
  {
    TRowReadAhead reader(Numbers(1000, -1, calls), 7, 3);  // chunks that do not divide 1000
    for (int i = 0; i < 1000; ++i) {
      TTransferRow* row = reader.Next();
      ASSERT_NE(row, nullptr) << i;
      ASSERT_EQ(row->Values.at(0).AsInt64(), i);
    }
    EXPECT_EQ(reader.Next(), nullptr);
    EXPECT_EQ(reader.Next(), nullptr);
  }
  EXPECT_EQ(calls.load(), 1001) << "the reader is not asked again after the end";

  calls = 0;
  TRowReadAhead failing(Numbers(1000, 500, calls), 64, 2);
  for (int i = 0; i < 500; ++i) ASSERT_EQ(failing.Next()->Values.at(0).AsInt64(), i);
  EXPECT_THROW(
      {
        try {
          failing.Next();
        } catch (const std::runtime_error& e) {
          EXPECT_STREQ(e.what(), "read failed at 500");
          throw;
        }
      },
      std::runtime_error);
}

TEST(TransferReadAhead, ARowThatFailedToDecodeIsTheLastOne) {
  std::atomic<int> calls{0};
  TRowReadAhead reader(
      [&](TTransferRow& row) {
        const int n = calls.fetch_add(1);
        row.Failure = n == 3 ? std::make_exception_ptr(std::runtime_error("bad")) : nullptr;
        return true;
      },
      2, 2);
  for (int i = 0; i < 3; ++i) EXPECT_FALSE(reader.Next()->Failure);
  TTransferRow* bad = reader.Next();
  ASSERT_NE(bad, nullptr);
  EXPECT_TRUE(bad->Failure);
  EXPECT_EQ(reader.Next(), nullptr);
  EXPECT_EQ(calls.load(), 4);
}

TEST(TransferReadAhead, StoppingEarlyEndsTheReaderWhereverItIs) {
  std::atomic<int> calls{0};
  {  // The queue is full: the reader waits for room until the destructor stops it.
    TRowReadAhead reader(Numbers(1 << 30, -1, calls), 4, 2);
    ASSERT_EQ(reader.Next()->Values.at(0).AsInt64(), 0);
  }
  EXPECT_LT(calls.load(), 1 << 20) << "the queue is bounded";
  calls = 0;
  {  // Never taken from at all.
    TRowReadAhead reader(Numbers(1 << 30, -1, calls), 1000, 1);
  }
  EXPECT_LT(calls.load(), 1 << 20);
}

namespace {
class TransferReadAheadTest : public TransferFixture {};

SourceTable Numbered(const char* name, const char* dateField, int rows) {
  SourceTable t{name, {{"IpAddress", false, 45}, {dateField, true}}, {}};
  for (int i = 0; i < rows; ++i) {
    SourceRow r;
    r.Texts = {"10.9." + std::to_string(i / 250) + "." + std::to_string(i % 250)};
    r.Stamps = {{730120 + i % 900, i * 1000}};
    t.Rows.push_back(r);
  }
  return t;
}
}  // namespace

TEST_F(TransferReadAheadTest, ASourceBrokenInTheMiddleOfATableRollsBackTheOpenBatch) {
  const fs::path source = dir_ / "d.abs";
  // Encrypted, so that every page's checksum is verified as it is read.
  WriteSource(
      source,
      {Numbered("DhaHistory", "AttemptTime", 20000), Numbered("DhaBlacklist", "LastUpdateTime", 5)},
      "pw");
  Select(dkDha);
  info_.Task(dkDha).SourcePassword = "pw";
  TDbTransfer t(info_, dkDha);
  t.ConnectTarget();
  t.CheckSource(source.string());
  ASSERT_TRUE(info_.IsOk()) << info_.GetError();
  // Damage a page in the middle of the first table's records: its checksum no longer matches.
  {
    std::fstream f(source, std::ios::in | std::ios::out | std::ios::binary);
    f.seekp(static_cast<std::streamoff>(fs::file_size(source) / 2));
    f.write("\xDE\xAD\xBE\xEF\xDE\xAD\xBE\xEF", 8);
  }
  EXPECT_THROW(t.Transfer(source.string()), std::exception);
  EXPECT_GT(t.InsertedCount(), 1000);
  EXPECT_LT(t.InsertedCount(), 20000);
  SqliteFile db(target_);
  EXPECT_EQ(db.Count("DhaHistory"), t.InsertedCount() / 1000 * 1000)
      << "committed batches stay, the open one is rolled back";
  ASSERT_GE(status_.size(), 2u);
  EXPECT_EQ(status_[status_.size() - 2], "Error occured, rolling back data...");
  EXPECT_EQ(status_.back(), "Finished rolling back.");
}

TEST_F(TransferReadAheadTest, CancelWhileTheReaderIsAheadStopsBothSides) {
  const fs::path source = dir_ / "d.abs";
  WriteSource(source, {Numbered("DhaHistory", "AttemptTime", 20000),
                       Numbered("DhaBlacklist", "LastUpdateTime", 5)});
  Select(dkDha);
  std::atomic<bool> once{false};
  onProgress_ = [&](int64_t done, int64_t) {
    if (done == 3210 && !once.exchange(true)) info_.Cancelled = true;
  };
  TDbTransfer t(info_, dkDha);
  RunAll(t, source);
  EXPECT_TRUE(info_.Cancelled);
  EXPECT_EQ(t.InsertedCount(), 3211);
  EXPECT_EQ(SqliteFile(target_).Count("DhaHistory"), 3000);
  EXPECT_EQ(SqliteFile(target_).Count("DhaBlacklist"), 0);
  EXPECT_EQ(status_.back(), "Finished rolling back.");
}
