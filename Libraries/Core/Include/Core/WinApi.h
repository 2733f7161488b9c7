#pragma once

// The Windows headers, for Windows backends only. Include this instead of
// <windows.h>: winbase.h defines IGNORE, which would shadow the runtime's
// geometry constant of that name.
#include <windows.h>

#ifdef IGNORE
#undef IGNORE
#endif
