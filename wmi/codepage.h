// Conversions between 8-bit text in the system ANSI code page and the
// platform's wide text.
#pragma once

#include <string>

#include "wmi/platform.h"

// The wide text up to its first NUL, in the ANSI code page; null gives "".
std::string WideToAnsi(const WCHAR* text);

// A new BSTR holding `text` converted from the ANSI code page, or null when
// memory or the conversion fails. The caller frees it with SysFreeString.
BSTR AnsiToBstr(const std::string& text);
