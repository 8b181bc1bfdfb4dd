// The Windows API with the common controls, for the files of the Win32 backend. Include it last: its
// macros (IDOK, MB_OK, ...) would rewrite the toolkit port's constants of the same names.
#pragma once

#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <commctrl.h>  // after windows.h, which it needs
