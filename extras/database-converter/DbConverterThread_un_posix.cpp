// No COM outside Windows.
#include "DbConverterThread_un.h"

namespace mrv {

bool ComInitializeThread() { return false; }
void ComUninitializeThread() {}

}  // namespace mrv
