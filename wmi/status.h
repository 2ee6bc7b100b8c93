// WBEM status names: the symbolic name of a WMI status code for log messages.
#pragma once

#include "wmi/platform.h"

// The name of one of the 50 known codes, or "0x" and the lowercase hex digits
// of the code's 32-bit pattern. Never null. A fallback text lives in one
// static buffer that the next fallback overwrites; use it at once.
const char* GetWbemStatusName(HRESULT code);
