// The CIM types, one row each: the MOF keyword, the VARTYPE a value travels
// in, and the range and sign of the integer ones; and the form of a CIM
// datetime. The capture tool writes MOF by this table and the stand-in's MOF
// reader reads it back by the same, so the two cannot drift apart.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "wmi/platform.h"

struct CimTypeInfo {
  CIMTYPE type;  // never with CIM_FLAG_ARRAY
  // The MOF keyword; null for CIM_REFERENCE, which MOF writes "Class ref".
  const char* keyword;
  // The VARTYPE of a value as WMI hands it out: small integers widened to
  // VT_I2 or VT_I4, 64-bit integers as decimal strings in a VT_BSTR.
  VARTYPE vt;
  // For the integer types (char16 included): the largest magnitudes below
  // and above zero; both zero for every other type.
  uint64_t negMax, posMax;
  // Whether an integer type's values are kept signed: the sint types, and
  // char16, whose VT_I2 is signed.
  bool isSigned;
};

// The row of `type`, the array flag ignored; null for an unknown code.
const CimTypeInfo* FindCimType(CIMTYPE type);

// The row whose MOF keyword is `keyword`, ASCII case ignored; null for none.
const CimTypeInfo* FindCimTypeKeyword(std::string_view keyword);

// Whether an integer type (a row with a range).
inline bool IsCimInteger(const CimTypeInfo& info) { return info.posMax != 0; }

// Whether `length` UTF-16 code units form a CIM datetime as MOF readers take
// it: "yyyymmddHHMMSS.mmmmmmsUUU" (s '+' or '-') or the interval
// "ddddddddHHMMSS.mmmmmm:000", '*' for any digit.
bool IsCimDatetime(const WCHAR* text, size_t length);
