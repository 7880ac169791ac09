// Per-thread COM initialisation for the threads that use automation objects.
#include <windows.h>
#include <ole2.h>

#include "Ado.h"

namespace ado {

ComInitializer::ComInitializer(bool ole) : ole_(ole) {
  HRESULT hr = ole ? OleInitialize(nullptr) : CoInitialize(nullptr);
  // S_FALSE (already initialised on this thread) still needs the matching uninitialise.
  initialised_ = SUCCEEDED(hr);
}

ComInitializer::~ComInitializer() {
  if (!initialised_) return;
  if (ole_)
    OleUninitialize();
  else
    CoUninitialize();
}

}  // namespace ado
