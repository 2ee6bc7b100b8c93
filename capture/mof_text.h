// The MOF text of captured values: string literals that bring back every
// UTF-16 code unit, numbers in forms that read back to the same bits, and
// the MOF keywords of CIM types. UTF-8 throughout.
#pragma once

#include <cstddef>
#include <string>

#include "wmi/cimtype.h"
#include "wmi/platform.h"

// UTF-8 of `length` UTF-16 code units; an unpaired surrogate becomes U+FFFD.
std::string WideToUtf8(const WCHAR* text, size_t length);

// Appends a MOF string literal of `length` UTF-16 code units, the quotes
// included. Quotes and backslashes are escaped, \n \r \t by name, every other
// control character, DEL, the C1 controls and each unpaired surrogate as
// \xHHHH (always four digits, so a hex digit after it stays a character);
// everything else, surrogate pairs included, as UTF-8.
void AppendMofString(std::string& out, const WCHAR* text, size_t length);

// The MOF keyword of a CIM type, the array flag ignored (wmi/cimtype.h);
// null for CIM_REFERENCE (written "Class ref") and for unknown codes.
const char* CimTypeKeyword(CIMTYPE type);

// Appends the MOF text of one value of a scalar CIM type other than
// CIM_OBJECT, from the VARIANT that WMI hands out for it:
//   integers in decimal, cut to the type's width (WMI hands uint16 and
//   uint32 over as VT_I4); 64-bit integers as WMI's decimal string, quoted;
//   reals in the shortest form that reads back to the same double (a real32
//   through its exact double); TRUE or FALSE; strings, datetimes and
//   references as string literals (a null BSTR as "").
// Returns S_OK; WBEM_E_TYPE_MISMATCH, with nothing appended, when the
// VARIANT's type does not carry that CIM type; S_FALSE, with NULL appended,
// for an infinity or a NaN, which MOF cannot write.
HRESULT AppendScalar(std::string& out, const VARIANT& value, CIMTYPE type);

// Element `index` of a one-dimensional SAFEARRAY of `vt` as a VARIANT that
// borrows it (no copy: never cleared). False for another shape, an index
// past the end or an element type that WMI does not use.
bool BorrowElement(const SAFEARRAY* array, VARTYPE vt, ULONG index,
                   VARIANT* element);
