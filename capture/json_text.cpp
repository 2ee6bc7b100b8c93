// JSON text of captured values. Numbers come from the MOF writer: the MOF
// forms of integers and reals (std::to_chars, shortest round trip) are
// JSON numbers too, and a 64-bit integer's quoted digits a JSON string.
#include "capture/json_text.h"

#include "capture/mof_text.h"
#include "text/utf.h"

namespace {

void AppendCodePoint(std::string& out, char32_t cp) {
  static const char kHex[] = "0123456789abcdef";
  switch (cp) {
    case '"':
      out += "\\\"";
      return;
    case '\\':
      out += "\\\\";
      return;
    case '\b':
      out += "\\b";
      return;
    case '\f':
      out += "\\f";
      return;
    case '\n':
      out += "\\n";
      return;
    case '\r':
      out += "\\r";
      return;
    case '\t':
      out += "\\t";
      return;
    default:
      break;
  }
  if (cp < 0x20) {
    out += "\\u00";
    out += kHex[cp >> 4];
    out += kHex[cp & 0xF];
    return;
  }
  AppendUtf8(out, cp);
}

}  // namespace

void AppendJsonString(std::string& out, const WCHAR* text, size_t length) {
  out += '"';
  for (size_t pos = 0; pos < length;) {
    bool unpaired = false;
    const char32_t cp = NextUtf16(text, length, &pos, &unpaired);
    AppendCodePoint(out, unpaired ? 0xFFFD : cp);
  }
  out += '"';
}

void AppendJsonString(std::string& out, std::string_view utf8) {
  out += '"';
  for (size_t pos = 0; pos < utf8.size();) {
    char32_t cp = 0;
    if (!DecodeUtf8(utf8, &pos, &cp)) {
      cp = 0xFFFD;
      ++pos;
    }
    AppendCodePoint(out, cp);
  }
  out += '"';
}

HRESULT AppendJsonScalar(std::string& out, const VARIANT& value, CIMTYPE type) {
  switch (type) {
    case CIM_BOOLEAN:
      if (value.vt != VT_BOOL) return WBEM_E_TYPE_MISMATCH;
      out += value.boolVal ? "true" : "false";
      return S_OK;
    case CIM_STRING:
    case CIM_DATETIME:
    case CIM_REFERENCE:
      if (value.vt != VT_BSTR) return WBEM_E_TYPE_MISMATCH;
      AppendJsonString(out, value.bstrVal,
                       value.bstrVal ? SysStringLen(value.bstrVal) : 0);
      return S_OK;
    default: {
      std::string number;
      HRESULT hr = AppendScalar(number, value, type);
      if (hr == S_FALSE) number = "null";
      if (SUCCEEDED(hr)) out += number;
      return hr;
    }
  }
}
