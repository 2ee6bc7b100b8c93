// MOF text of captured values. Numbers go through std::to_chars, which
// needs no locale and writes the shortest text that reads back exactly, on
// both builds alike.
#include "capture/mof_text.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "text/utf.h"

namespace {

void AppendEscape(std::string& out, uint32_t unit) {
  static const char kHex[] = "0123456789ABCDEF";
  out += "\\x";
  for (int shift = 12; shift >= 0; shift -= 4)
    out += kHex[(unit >> shift) & 0xF];
}

template <typename T>
void AppendNumber(std::string& out, T value) {
  char buffer[32];
  auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
  out.append(buffer, result.ptr);
}

// The integer a VARIANT holds, sign-extended from its own width.
bool IntegerOf(const VARIANT& v, int64_t* value) {
  switch (v.vt) {
    case VT_I1:
      // The byte's bit pattern in two's complement.
      *value = v.bVal < 0x80 ? v.bVal : static_cast<int64_t>(v.bVal) - 0x100;
      return true;
    case VT_UI1:
      *value = v.bVal;
      return true;
    case VT_I2:
      *value = v.iVal;
      return true;
    case VT_UI2:
      *value = static_cast<uint16_t>(v.iVal);
      return true;
    case VT_I4:
      *value = v.lVal;
      return true;
    case VT_UI4:
      *value = static_cast<uint32_t>(v.lVal);
      return true;
    case VT_I8:
    case VT_UI8:
      *value = v.llVal;
      return true;
    default:
      return false;
  }
}

// WMI's string form of a 64-bit integer: decimal digits, '-' first for a
// negative sint64.
bool IsDecimalText(const WCHAR* text, UINT length, bool allowSign) {
  UINT i = allowSign && length > 0 && text[0] == '-' ? 1 : 0;
  if (i == length) return false;
  for (; i < length; ++i)
    if (text[i] < '0' || text[i] > '9') return false;
  return true;
}

HRESULT AppendInteger(std::string& out, const VARIANT& value, CIMTYPE type) {
  bool is64 = type == CIM_SINT64 || type == CIM_UINT64;
  if (is64 && value.vt == VT_BSTR) {
    UINT length = value.bstrVal ? SysStringLen(value.bstrVal) : 0;
    if (!IsDecimalText(value.bstrVal, length, type == CIM_SINT64))
      return WBEM_E_TYPE_MISMATCH;
    AppendMofString(out, value.bstrVal, length);
    return S_OK;
  }
  int64_t v = 0;
  if (!IntegerOf(value, &v)) return WBEM_E_TYPE_MISMATCH;
  if (is64) out += '"';
  switch (type) {
    case CIM_SINT8:
      AppendNumber(out, static_cast<int8_t>(v));
      break;
    case CIM_UINT8:
      AppendNumber(out, static_cast<uint8_t>(v));
      break;
    case CIM_SINT16:
      AppendNumber(out, static_cast<int16_t>(v));
      break;
    case CIM_UINT16:
    case CIM_CHAR16:
      AppendNumber(out, static_cast<uint16_t>(v));
      break;
    case CIM_SINT32:
      AppendNumber(out, static_cast<int32_t>(v));
      break;
    case CIM_UINT32:
      AppendNumber(out, static_cast<uint32_t>(v));
      break;
    case CIM_SINT64:
      AppendNumber(out, v);
      break;
    default:  // CIM_UINT64
      AppendNumber(out, static_cast<uint64_t>(v));
      break;
  }
  if (is64) out += '"';
  return S_OK;
}

}  // namespace

std::string WideToUtf8(const WCHAR* text, size_t length) {
  return Utf16ToUtf8(text, length);
}

void AppendMofString(std::string& out, const WCHAR* text, size_t length) {
  out += '"';
  for (size_t pos = 0; pos < length;) {
    bool unpaired = false;
    const char32_t cp = NextUtf16(text, length, &pos, &unpaired);
    if (cp == '"' || cp == '\\') {
      out += '\\';
      out += static_cast<char>(cp);
    } else if (cp == '\n') {
      out += "\\n";
    } else if (cp == '\r') {
      out += "\\r";
    } else if (cp == '\t') {
      out += "\\t";
    } else if (unpaired || cp < 0x20 || (cp >= 0x7F && cp < 0xA0)) {
      AppendEscape(out, cp);
    } else {
      AppendUtf8(out, cp);
    }
  }
  out += '"';
}

const char* CimTypeKeyword(CIMTYPE type) {
  const CimTypeInfo* info = FindCimType(type);
  return info ? info->keyword : nullptr;
}

HRESULT AppendScalar(std::string& out, const VARIANT& value, CIMTYPE type) {
  switch (type) {
    case CIM_SINT8:
    case CIM_UINT8:
    case CIM_SINT16:
    case CIM_UINT16:
    case CIM_SINT32:
    case CIM_UINT32:
    case CIM_SINT64:
    case CIM_UINT64:
    case CIM_CHAR16:
      return AppendInteger(out, value, type);
    case CIM_REAL32:
    case CIM_REAL64: {
      double v = 0;
      if (value.vt == VT_R4)
        v = value.fltVal;
      else if (value.vt == VT_R8)
        v = value.dblVal;
      else
        return WBEM_E_TYPE_MISMATCH;
      if (!std::isfinite(v)) {
        out += "NULL";
        return S_FALSE;
      }
      // Whole reals beyond 64 bits go in exponent form, since a reader
      // takes digits alone for an integer.
      char buffer[32];
      auto result = std::to_chars(buffer, buffer + sizeof buffer, v);
      std::string_view text(buffer, static_cast<size_t>(result.ptr - buffer));
      if (text.find_first_of(".e") == std::string_view::npos &&
          text.size() > 19)
        result = std::to_chars(buffer, buffer + sizeof buffer, v,
                               std::chars_format::scientific);
      out.append(buffer, result.ptr);
      return S_OK;
    }
    case CIM_BOOLEAN:
      if (value.vt != VT_BOOL) return WBEM_E_TYPE_MISMATCH;
      out += value.boolVal ? "TRUE" : "FALSE";
      return S_OK;
    case CIM_STRING:
    case CIM_DATETIME:
    case CIM_REFERENCE:
      if (value.vt != VT_BSTR) return WBEM_E_TYPE_MISMATCH;
      AppendMofString(out, value.bstrVal,
                      value.bstrVal ? SysStringLen(value.bstrVal) : 0);
      return S_OK;
    default:
      return WBEM_E_TYPE_MISMATCH;
  }
}

bool BorrowElement(const SAFEARRAY* array, VARTYPE vt, ULONG index,
                   VARIANT* element) {
  if (!array || array->cDims != 1 || index >= array->rgsabound[0].cElements)
    return false;
  size_t size = 0;
  void* slot = nullptr;
  VariantInit(element);
  switch (vt) {
    case VT_I1:
    case VT_UI1:
      size = sizeof element->bVal, slot = &element->bVal;
      break;
    case VT_I2:
    case VT_UI2:
      size = sizeof element->iVal, slot = &element->iVal;
      break;
    case VT_BOOL:
      size = sizeof element->boolVal, slot = &element->boolVal;
      break;
    case VT_I4:
    case VT_UI4:
      size = sizeof element->lVal, slot = &element->lVal;
      break;
    case VT_R4:
      size = sizeof element->fltVal, slot = &element->fltVal;
      break;
    case VT_I8:
    case VT_UI8:
      size = sizeof element->llVal, slot = &element->llVal;
      break;
    case VT_R8:
      size = sizeof element->dblVal, slot = &element->dblVal;
      break;
    case VT_BSTR:
      size = sizeof element->bstrVal, slot = &element->bstrVal;
      break;
    case VT_UNKNOWN:
    case VT_DISPATCH:
      size = sizeof(void*), slot = &element->punkVal;
      break;
    default:
      return false;
  }
  if (array->cbElements != size) return false;
  std::memcpy(slot, static_cast<const char*>(array->pvData) + index * size,
              size);
  element->vt = vt;
  return true;
}
