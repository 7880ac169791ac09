// The production record transfer is the default transfer of a run (default code page).
#include "DbTransferIntf_un.h"
#include "DbTransfer_un.h"

namespace mrv {

TDbTransferFactory DefaultDbTransferFactory() { return MakeDbTransferFactory(0); }

}  // namespace mrv
