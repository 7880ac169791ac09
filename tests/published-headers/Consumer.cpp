// A user of every library: links them the way a front end does, and so sees exactly the
// include folders they publish. The published-headers check compiles with its include path.
#include "Ado.h"
#include "DbConverterThread_un.h"
#include "EdbMain.h"

int MrvPublishedHeadersConsumer() { return 0; }
