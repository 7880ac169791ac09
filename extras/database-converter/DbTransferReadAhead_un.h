#pragma once
// Read-ahead for the record transfer: a thread decoding source rows into a bounded queue while
// the transfer's own thread inserts the rows before them. The rows arrive strictly in the order
// read; a failure of the reader arrives, in its place, as the exception the reader raised.

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "Ado.h"

namespace mrv {

// One source row: the values of an insert statement's parameters, in their order, or the
// failure to decode it (then it is the last row the reader hands over).
struct TTransferRow {
  std::vector<ado::Variant> Values;
  std::exception_ptr Failure;
};

class TRowReadAhead {
 public:
  // Fills `row` with the next row and returns true, or returns false after the last one. Runs
  // on the reader thread only, and is never called again after it returned false, raised, or
  // gave a row with a Failure.
  using TReadRow = std::function<bool(TTransferRow& row)>;

  // Starts the reader thread; at most `chunks` chunks of `chunkRows` rows wait in the queue.
  TRowReadAhead(TReadRow read, std::size_t chunkRows = 256, std::size_t chunks = 4);
  // Stops the reader (it finishes the row it is decoding) and waits for it.
  ~TRowReadAhead();
  TRowReadAhead(const TRowReadAhead&) = delete;
  TRowReadAhead& operator=(const TRowReadAhead&) = delete;

  // The next row, valid until the next call; nullptr after the last. Rethrows what the reader
  // raised where its row would have been. Transfer thread only.
  TTransferRow* Next();

 private:
  using TChunk = std::vector<TTransferRow>;
  void Run() noexcept;

  TReadRow read_;
  const std::size_t chunkRows_;
  const std::size_t maxChunks_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<TChunk> full_;        // filled chunks, oldest first (guarded)
  std::vector<TChunk> spare_;      // emptied chunks for the reader to reuse (guarded)
  bool finished_ = false;          // the reader will add nothing more (guarded)
  std::atomic<bool> stop_{false};  // the transfer wants no more rows
  std::exception_ptr error_;       // the reader's failure, after the rows before it (guarded)
  TChunk current_;                 // the chunk the transfer thread is taking rows from
  std::size_t currentIndex_ = 0;
  std::thread thread_;
};

}  // namespace mrv
