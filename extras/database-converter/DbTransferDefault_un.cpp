// The production record transfer is plugged in here once it exists.
#include "DbTransferIntf_un.h"

namespace mrv {

TDbTransferFactory DefaultDbTransferFactory() { return {}; }

}  // namespace mrv
