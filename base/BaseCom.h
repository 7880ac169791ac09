#pragma once
// COM for the calling thread, for the lifetime of the object: on Windows CoInitialize (or
// OleInitialize when `ole`, which the automation error objects of some providers need), undone
// on destruction when it succeeded. Elsewhere there is no COM and the object does nothing.

namespace base {

class TComInitializer {
 public:
  explicit TComInitializer(bool ole = false);
  ~TComInitializer();
  TComInitializer(const TComInitializer&) = delete;
  TComInitializer& operator=(const TComInitializer&) = delete;

  // Whether COM was initialised here (and will be uninitialised by the destructor).
  bool Initialised() const noexcept { return initialised_; }

 private:
  bool ole_;
  bool initialised_ = false;
};

}  // namespace base
