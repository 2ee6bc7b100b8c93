// Fuzzes FormatPropertyValue over every type code with any payload, checking
// the text of each row against the C library's printf (for the numbers) or
// the text it must be. Values that would carry a pointer carry null, except
// VT_BSTR, which gets a real BSTR with the fuzzed characters.
// Input: the type code (2 bytes), then the payload: 8 bytes for a scalar; for
// VT_BSTR a flag byte (1: null BSTR) and the UTF-16 code units.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "fuzz/reader.h"
#include "wmi/format.h"

namespace {

using WString = std::basic_string<WCHAR>;

WString Widen(const std::string& text) {
  WString wide;
  for (char c : text) wide += static_cast<WCHAR>(static_cast<unsigned char>(c));
  return wide;
}

template <typename... Args>
WString Printf(const char* format, Args... args) {
  char buffer[512];
  const int n = std::snprintf(buffer, sizeof(buffer), format, args...);
  FUZZ_CHECK(n >= 0 && static_cast<size_t>(n) < sizeof(buffer));
  return Widen(std::string(buffer, static_cast<size_t>(n)));
}

bool CarriesPointer(VARTYPE vt) {
  return vt == VT_DISPATCH || vt == VT_UNKNOWN || (vt & VT_ARRAY) ||
         (vt & VT_BYREF);
}

bool HasNoText(VARTYPE vt) {
  switch (vt) {
    case VT_DISPATCH:
    case VT_ARRAY | VT_I2:
    case VT_ARRAY | VT_I4:
    case VT_ARRAY | VT_R4:
    case VT_ARRAY | VT_R8:
    case VT_ARRAY | VT_BSTR:
    case VT_ARRAY | VT_DISPATCH:
    case VT_ARRAY | VT_BOOL:
    case VT_ARRAY | VT_UI1:
      return true;
    default:
      return false;
  }
}

WString Expected(const VARIANT& v) {
  switch (v.vt) {
    case VT_NULL:
      return Widen("<null>");
    case VT_I2:
      return Printf("%hu (0x%hX)", v.iVal, v.iVal);
    case VT_I4:
      return Printf("%d (0x%X)", v.lVal, v.lVal);
    case VT_R4:
      return Printf("%10.4f", static_cast<double>(v.fltVal));
    case VT_R8:
      return Printf("%10.4f", v.dblVal);
    case VT_BSTR: {
      WString text = v.bstrVal ? WString(v.bstrVal) : WString();
      return WString(1, '"') + text + WString(1, '"');
    }
    case VT_BOOL:
      return Widen(v.boolVal ? "TRUE" : "FALSE");
    case VT_UI1:
      if (v.bVal < 32) return Printf("%hu (0x%hX)", v.bVal, v.bVal);
      return WString{'\'', static_cast<WCHAR>(v.bVal), '\''} +
             Printf(" (%hu, 0x%hX)", v.bVal, v.bVal);
    default:
      return Widen("<conversion error>");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  ByteReader in(data, size);
  VARIANT value;
  VariantInit(&value);
  value.vt = static_cast<VARTYPE>(in.Bytes(2));
  if (value.vt == VT_BSTR) {
    const bool null = in.Byte() == 1;
    WString text;
    while (in.Left() >= 2) text += static_cast<WCHAR>(in.Bytes(2));
    value.bstrVal =
        null ? nullptr
             : SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
    FUZZ_CHECK(null || value.bstrVal);
  } else if (!CarriesPointer(value.vt)) {
    value.llVal = static_cast<LONGLONG>(in.Bytes(8));
  }

  WCHAR stale = 0;
  WCHAR* slot = &stale;
  WCHAR* text = FormatPropertyValue(value, &slot);
  FUZZ_CHECK(slot == text);
  if (HasNoText(value.vt)) {
    FUZZ_CHECK(!text);
  } else {
    FUZZ_CHECK(text);
    FUZZ_CHECK(WString(text) == Expected(value));
  }
  std::free(slot);
  if (value.vt == VT_BSTR) SysFreeString(value.bstrVal);
  return 0;
}
