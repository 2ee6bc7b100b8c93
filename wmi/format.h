// Value texts: a WMI property value (VARIANT) as the wide text that follows
// "name = " in a result line.
#pragma once

#include "wmi/platform.h"

// Returns a malloc'd, NUL-terminated wide text for `value`, or null when the
// value has no text (VT_DISPATCH, arrays of the scalar types, out of memory).
// Stores the returned pointer into *out on every path; the caller frees it.
WCHAR* FormatPropertyValue(const VARIANT& value, WCHAR** out);

// printf-style wide formatting into `dest`, bounded by `sizeBytes`. Never
// writes past sizeBytes/2 wide characters and always leaves a terminated text.
// Knows the directives %d %X %hu %hX %c %wS %10.4f (flags, width and
// precision apply to %d %X %hu %hX %f). Returns S_OK, E_INVALIDARG for a
// buffer under 2 bytes (dest untouched), or HRESULT_FROM_WIN32(
// ERROR_INSUFFICIENT_BUFFER) when the text was cut.
HRESULT FormatWideBounded(WCHAR* dest, uint32_t sizeBytes, const WCHAR* format,
                          ...);
