// Windows' API as the platform files include it: without the min and max
// macros, which break the standard library's, and without the rarely used
// parts. Included only where a file builds for Windows.
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
