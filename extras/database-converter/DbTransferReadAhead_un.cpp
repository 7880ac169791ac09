// Read-ahead for the record transfer: a bounded single-producer, single-consumer queue of row
// chunks. Chunks travel whole, so the two threads meet once per chunk rather than per row, and
// emptied chunks go back to the reader, whose rows keep their capacity.
#include "DbTransferReadAhead_un.h"

#include <utility>

namespace mrv {

TRowReadAhead::TRowReadAhead(TReadRow read, std::size_t chunkRows, std::size_t chunks)
    : read_(std::move(read)),
      chunkRows_(chunkRows > 0 ? chunkRows : 1),
      maxChunks_(chunks > 0 ? chunks : 1) {
  thread_ = std::thread([this] { Run(); });
}

TRowReadAhead::~TRowReadAhead() {
  {
    std::lock_guard<std::mutex> lock(mutex_);  // so that a waiting reader cannot miss it
    stop_.store(true);
  }
  changed_.notify_all();
  if (thread_.joinable()) thread_.join();
}

void TRowReadAhead::Run() noexcept {
  TChunk chunk;
  std::exception_ptr error;
  bool more = true;
  while (more) {
    {
      // Wait for room in the queue and take a spare chunk if there is one.
      std::unique_lock<std::mutex> lock(mutex_);
      changed_.wait(lock, [this] { return stop_.load() || full_.size() < maxChunks_; });
      if (stop_.load()) return;
      if (chunk.empty() && !spare_.empty()) {
        chunk = std::move(spare_.back());
        spare_.pop_back();
      }
    }
    std::size_t filled = 0;
    try {
      while (filled < chunkRows_ && !stop_.load(std::memory_order_relaxed)) {
        if (filled == chunk.size()) chunk.emplace_back();
        if (!read_(chunk[filled])) {
          more = false;
          break;
        }
        if (chunk[filled++].Failure) {
          more = false;
          break;
        }
      }
    } catch (...) {
      error = std::current_exception();
      more = false;
    }
    chunk.resize(filled);
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (filled > 0) {
        full_.push_back(std::move(chunk));
      }
      if (!more) {
        finished_ = true;
        error_ = error;
      }
    }
    chunk = TChunk();
    changed_.notify_all();
  }
}

TTransferRow* TRowReadAhead::Next() {
  if (currentIndex_ < current_.size()) return &current_[currentIndex_++];
  std::unique_lock<std::mutex> lock(mutex_);
  if (!current_.empty()) {
    spare_.push_back(std::move(current_));
    current_ = TChunk();
  }
  currentIndex_ = 0;
  changed_.wait(lock, [this] { return !full_.empty() || finished_; });
  if (full_.empty()) {
    // Everything read has been handed out; the end, or the reader's failure in its place.
    if (error_) {
      std::exception_ptr error = std::exchange(error_, nullptr);
      std::rethrow_exception(error);
    }
    return nullptr;
  }
  current_ = std::move(full_.front());
  full_.pop_front();
  lock.unlock();
  changed_.notify_all();
  return &current_[currentIndex_++];
}

}  // namespace mrv
