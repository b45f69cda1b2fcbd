// The ODBC API's headers, in the order the platform needs: Windows' own
// declare their types through <windows.h>, which must come first (and is
// kept from defining min and max, and from pulling in the rest of the API).
#pragma once

#ifdef _WIN32
#include "frame/windows_api.h"
#endif

#include <sql.h>
#include <sqlext.h>
