// The Windows headers as the toolkit layer includes them: lean, without
// the min/max macros, and without the MessageBox macro, which would
// otherwise rename Dialog::MessageBox in the files that define it.
#pragma once

#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#include <commctrl.h>

#undef MessageBox
