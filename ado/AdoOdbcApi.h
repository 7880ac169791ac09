// The ODBC headers; on Windows they need the system header first.
#pragma once

#if defined(_WIN32)
#include <windows.h>
#endif
#include <sql.h>
#include <sqlext.h>
#include <sqlucode.h>

static_assert(sizeof(SQLWCHAR) == 2, "the ODBC wide interface is expected to be UTF-16");
