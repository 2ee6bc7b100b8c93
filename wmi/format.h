// Value texts: a WMI property value (VARIANT) as the wide text that follows
// "name = " in a result line.
#pragma once

#include <cstdint>

#include "wmi/platform.h"

// Returns a malloc'd, NUL-terminated wide text for `value`, or null when the
// value has no text (VT_DISPATCH, arrays of the scalar types, out of memory).
// Stores the returned pointer into *out on every path; the caller frees it.
// A VT_BSTR with a null pointer is the empty string: two double quotes.
WCHAR* FormatPropertyValue(const VARIANT& value, WCHAR** out);

// printf-style wide formatting into `dest`, bounded by `sizeBytes`. Never
// writes past sizeBytes/2 wide characters and always leaves a terminated text.
// The same on every platform; it does not use the C library's printf.
// Directives: %% and [flags][width][.precision] with the conversions
//   d i    int, signed decimal; with h the value is cut to a short
//   u X x  int, unsigned decimal or hexadecimal; with h cut to 16 bits
//   c      int, the one wide character whose code unit is the value's 16 bits
//   f      double, fixed point ("." always; precision 6 when not given);
//          infinities and NaNs are "inf", "-inf", "nan" and "-nan"; a
//          precision above 100 is taken as 100
//   wS ws lS ls   const WCHAR*, the text up to its NUL ("(null)" for null)
// Flags: '-' (left-align), '0' (pad numbers with zeros), '+' and ' ' (sign
// of signed numbers). Any other directive ends the text where it stands and
// counts as a cut.
// Returns S_OK, E_INVALIDARG for a buffer under 2 bytes or a null `dest` or
// `format` (dest untouched), or HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER)
// when the text was cut.
HRESULT FormatWideBounded(WCHAR* dest, uint32_t sizeBytes, const WCHAR* format,
                          ...);
