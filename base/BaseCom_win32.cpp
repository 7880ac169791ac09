// Per-thread COM initialisation.
#include <windows.h>
#include <ole2.h>

#include "BaseCom.h"

namespace base {

TComInitializer::TComInitializer(bool ole) : ole_(ole) {
  const HRESULT hr = ole ? OleInitialize(nullptr) : CoInitialize(nullptr);
  // S_FALSE (already initialised on this thread) still needs the matching uninitialise.
  initialised_ = SUCCEEDED(hr);
}

TComInitializer::~TComInitializer() {
  if (!initialised_) return;
  if (ole_)
    OleUninitialize();
  else
    CoUninitialize();
}

}  // namespace base
