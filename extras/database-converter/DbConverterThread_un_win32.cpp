// COM for the worker thread: the run's automation objects need it.
#include <objbase.h>
#include <windows.h>

#include "DbConverterThread_un.h"

namespace mrv {

bool ComInitializeThread() { return SUCCEEDED(CoInitialize(nullptr)); }
void ComUninitializeThread() { CoUninitialize(); }

}  // namespace mrv
