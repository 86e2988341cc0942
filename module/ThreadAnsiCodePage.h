// The code page that 8-bit script text is read in.
#pragma once

#include <windows.h>

// The calling thread's ANSI code page, as a number for MultiByteToWideChar. The rule is
// chosen on the first call and kept for the process.
UINT ThreadAnsiCodePage();
