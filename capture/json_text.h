// JSON text of captured values: strings as valid UTF-8 whatever WMI hands
// out, numbers in the same forms as the MOF text, booleans and null by
// name. Written by hand rather than through a JSON library so that the
// statically linked tool keeps no exceptions, no copy of the whole
// capture as a tree, and the property order of each walk.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "wmi/platform.h"

// Appends a JSON string of `length` UTF-16 code units, the quotes
// included: quotes and backslashes escaped, \b \f \n \r \t by name, every
// other control character as \u00XX, each unpaired surrogate as U+FFFD,
// everything else (surrogate pairs included) as UTF-8.
void AppendJsonString(std::string& out, const WCHAR* text, size_t length);

// The same for UTF-8 text; each byte that is no part of a valid sequence
// becomes U+FFFD.
void AppendJsonString(std::string& out, std::string_view utf8);

// Appends the JSON of one value of a scalar CIM type other than CIM_OBJECT,
// from the VARIANT that WMI hands out for it: integers and reals as numbers
// (64-bit integers as WMI's decimal string, quoted), true or false, strings,
// datetimes (CIM text) and references as strings.
// Returns S_OK; WBEM_E_TYPE_MISMATCH, with nothing appended, when the
// VARIANT's type does not carry that CIM type; S_FALSE, with null appended,
// for an infinity or a NaN, which JSON cannot write.
HRESULT AppendJsonScalar(std::string& out, const VARIANT& value, CIMTYPE type);
