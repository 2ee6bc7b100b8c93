// The CIM type table. Its ranges are the magnitudes two's complement
// allows at each width; char16 is a UTF-16 unit, so unsigned in range.
#include "wmi/cimtype.h"

namespace {

constexpr uint64_t kMax64 = ~uint64_t{0};

constexpr CimTypeInfo kCimTypes[] = {
    {CIM_SINT8, "sint8", VT_I2, 0x80, 0x7F, true},
    {CIM_UINT8, "uint8", VT_UI1, 0, 0xFF, false},
    {CIM_SINT16, "sint16", VT_I2, 0x8000, 0x7FFF, true},
    {CIM_UINT16, "uint16", VT_I4, 0, 0xFFFF, false},
    {CIM_SINT32, "sint32", VT_I4, 0x80000000u, 0x7FFFFFFFu, true},
    {CIM_UINT32, "uint32", VT_I4, 0, 0xFFFFFFFFu, false},
    {CIM_SINT64, "sint64", VT_BSTR, kMax64 / 2 + 1, kMax64 / 2, true},
    {CIM_UINT64, "uint64", VT_BSTR, 0, kMax64, false},
    {CIM_REAL32, "real32", VT_R4, 0, 0, false},
    {CIM_REAL64, "real64", VT_R8, 0, 0, false},
    {CIM_BOOLEAN, "boolean", VT_BOOL, 0, 0, false},
    {CIM_STRING, "string", VT_BSTR, 0, 0, false},
    {CIM_DATETIME, "datetime", VT_BSTR, 0, 0, false},
    {CIM_REFERENCE, nullptr, VT_BSTR, 0, 0, false},
    {CIM_CHAR16, "char16", VT_I2, 0, 0xFFFF, true},
    {CIM_OBJECT, "object", VT_UNKNOWN, 0, 0, false},
};

char AsciiLower(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

}  // namespace

const CimTypeInfo* FindCimType(CIMTYPE type) {
  const CIMTYPE scalar = type & ~static_cast<CIMTYPE>(CIM_FLAG_ARRAY);
  for (const CimTypeInfo& info : kCimTypes)
    if (info.type == scalar) return &info;
  return nullptr;
}

const CimTypeInfo* FindCimTypeKeyword(std::string_view keyword) {
  for (const CimTypeInfo& info : kCimTypes) {
    if (!info.keyword) continue;
    const std::string_view name = info.keyword;
    if (name.size() != keyword.size()) continue;
    size_t i = 0;
    while (i < name.size() && AsciiLower(keyword[i]) == name[i]) ++i;
    if (i == name.size()) return &info;
  }
  return nullptr;
}

bool IsCimDatetime(const WCHAR* text, size_t length) {
  if (length != 25) return false;
  for (size_t i = 0; i < length; ++i) {
    const WCHAR c = text[i];
    if (i == 14) {
      if (c != '.') return false;
    } else if (i == 21) {
      if (c != '+' && c != '-' && c != ':') return false;
    } else if (!((c >= '0' && c <= '9') || c == '*')) {
      return false;
    }
  }
  return true;
}
