// MOF text of captured values, on both builds: the escapes that keep every
// UTF-16 code unit, the integer widths WMI's VARIANTs hide, the forms of
// 64-bit integers and reals, and the element access to WMI's arrays.
#include "capture/mof_text.h"

#include <gtest/gtest.h>

#include <cmath>
#include <initializer_list>
#include <limits>
#include <string>

namespace {

// WBEMSTATUS is an unsigned enumeration in Windows' headers.
const HRESULT kMismatch = static_cast<HRESULT>(WBEM_E_TYPE_MISMATCH);

std::basic_string<WCHAR> Units(std::initializer_list<unsigned> units) {
  std::basic_string<WCHAR> text;
  for (unsigned u : units) text += static_cast<WCHAR>(u);
  return text;
}

std::string Literal(const std::basic_string<WCHAR>& text) {
  std::string out;
  AppendMofString(out, text.data(), text.size());
  return out;
}

TEST(MofText, StringLiteralsKeepEveryCodeUnit) {
  const struct Case {
    std::basic_string<WCHAR> text;
    std::string literal;
  } cases[] = {
      {Units({'a', ' ', '~'}), "\"a ~\""},
      {Units({'"', '\\', '\''}), "\"\\\"\\\\'\""},
      {Units({'\n', '\r', '\t'}), "\"\\n\\r\\t\""},
      // Other controls, DEL and C1 controls by number; a hex digit after
      // an escape stays a character of its own.
      {Units({0x0, 0x1, 'A', 0x1F, 0x7F, 0x85, 0x9F}),
       "\"\\x0000\\x0001A\\x001F\\x007F\\x0085\\x009F\""},
      {Units({0xA0, 0xE9, 0x20AC, 0xFFFF}),
       "\"\xC2\xA0\xC3\xA9\xE2\x82\xAC\xEF\xBF\xBF\""},
      // A pair is one character of four UTF-8 bytes.
      {Units({0xD83D, 0xDE00}), "\"\xF0\x9F\x98\x80\""},
      // Unpaired surrogates: alone, at the end, reversed.
      {Units({'x', 0xD800, 'y', 0xDFFF}), "\"x\\xD800y\\xDFFF\""},
      {Units({0xDC00, 0xD800}), "\"\\xDC00\\xD800\""},
      {Units({0xD83D, 0xD83D, 0xDE00}), "\"\\xD83D\xF0\x9F\x98\x80\""},
      {Units({}), "\"\""},
  };
  for (const Case& c : cases) EXPECT_EQ(Literal(c.text), c.literal);
  EXPECT_EQ(WideToUtf8(Units({'a', 0xD800, 0xE9}).data(), 3),
            "a\xEF\xBF\xBD\xC3\xA9");
}

struct Scalar {
  VARIANT value;
  CIMTYPE type;
  HRESULT result;
  std::string text;
};

VARIANT Of(VARTYPE vt, int64_t bits) {
  VARIANT v;
  VariantInit(&v);
  v.vt = vt;
  v.llVal = bits;  // the narrower members share its low bytes
  return v;
}
VARIANT Real4(float f) {
  VARIANT v = Of(VT_R4, 0);
  v.fltVal = f;
  return v;
}
VARIANT Real8(double d) {
  VARIANT v = Of(VT_R8, 0);
  v.dblVal = d;
  return v;
}

TEST(MofText, ScalarsReadBackToTheSameValue) {
  const Scalar cases[] = {
      // WMI hands uint16 and uint32 over as VT_I4, sint8 as VT_I2 (Wine:
      // VT_I1).
      {Of(VT_I4, -1), CIM_UINT32, S_OK, "4294967295"},
      {Of(VT_I4, 65535), CIM_UINT16, S_OK, "65535"},
      {Of(VT_I4, INT32_MIN), CIM_SINT32, S_OK, "-2147483648"},
      {Of(VT_I2, -1), CIM_SINT16, S_OK, "-1"},
      {Of(VT_I2, -128), CIM_SINT8, S_OK, "-128"},
      {Of(VT_I1, 0xFF), CIM_SINT8, S_OK, "-1"},
      {Of(VT_UI1, 0xFF), CIM_UINT8, S_OK, "255"},
      {Of(VT_I2, 0xE9), CIM_CHAR16, S_OK, "233"},
      {Of(VT_UI8, -1), CIM_UINT64, S_OK, "\"18446744073709551615\""},
      {Of(VT_I8, INT64_MIN), CIM_SINT64, S_OK, "\"-9223372036854775808\""},
      {Of(VT_BOOL, VARIANT_TRUE), CIM_BOOLEAN, S_OK, "TRUE"},
      {Of(VT_BOOL, VARIANT_FALSE), CIM_BOOLEAN, S_OK, "FALSE"},
      // A real32 through its exact double, so that nothing is rounded twice.
      {Real4(0.1f), CIM_REAL32, S_OK, "0.10000000149011612"},
      {Real8(-2.25), CIM_REAL64, S_OK, "-2.25"},
      {Real8(1e300), CIM_REAL64, S_OK, "1e+300"},
      {Real4(-3.4028235e19f), CIM_REAL32, S_OK, "-3.4028235612225536e+19"},
      {Real8(-0.0), CIM_REAL64, S_OK, "-0"},
      {Real8(std::numeric_limits<double>::infinity()), CIM_REAL64, S_FALSE,
       "NULL"},
      {Real4(std::nanf("")), CIM_REAL32, S_FALSE, "NULL"},
      {Of(VT_BSTR, 0), CIM_STRING, S_OK, "\"\""},
      // A VARIANT that does not carry the type.
      {Of(VT_BSTR, 0), CIM_UINT32, kMismatch, ""},
      {Of(VT_I4, 1), CIM_STRING, kMismatch, ""},
      {Of(VT_I4, 1), CIM_BOOLEAN, kMismatch, ""},
      {Of(VT_BOOL, 0), CIM_REAL64, kMismatch, ""},
      {Of(VT_I4, 1), CIM_OBJECT, kMismatch, ""},
  };
  for (const Scalar& c : cases) {
    std::string out;
    EXPECT_EQ(AppendScalar(out, c.value, c.type), c.result) << c.text;
    EXPECT_EQ(out, c.text);
  }
}

TEST(MofText, SixtyFourBitIntegersKeepWmisDecimalString) {
  const struct Case {
    const char* text;
    CIMTYPE type;
    bool taken;
  } cases[] = {
      {"18446744073709551615", CIM_UINT64, true},
      {"-42", CIM_SINT64, true},
      {"-42", CIM_UINT64, false},
      {"", CIM_UINT64, false},
      {"-", CIM_SINT64, false},
      {"12 ", CIM_UINT64, false},
      {"0x10", CIM_UINT64, false},
  };
  for (const Case& c : cases) {
    std::basic_string<WCHAR> wide(
        c.text, c.text + std::char_traits<char>::length(c.text));
    VARIANT v = Of(VT_BSTR, 0);
    v.bstrVal = SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
    std::string out;
    HRESULT hr = AppendScalar(out, v, c.type);
    EXPECT_EQ(hr, c.taken ? S_OK : kMismatch) << c.text;
    EXPECT_EQ(out, c.taken ? "\"" + std::string(c.text) + "\"" : "");
    VariantClear(&v);
  }
}

TEST(MofText, ArrayElementsAreBorrowedByTheirType) {
  SAFEARRAY* numbers = SafeArrayCreateVector(VT_I4, 0, 2);
  ASSERT_NE(numbers, nullptr);
  static_cast<LONG*>(numbers->pvData)[1] = -7;
  VARIANT element;
  ASSERT_TRUE(BorrowElement(numbers, VT_I4, 1, &element));
  EXPECT_EQ(element.vt, VT_I4);
  EXPECT_EQ(element.lVal, -7);
  EXPECT_FALSE(BorrowElement(numbers, VT_I4, 2, &element));
  // The element size must be the type's: an array of another type is
  // refused rather than read across its elements.
  EXPECT_FALSE(BorrowElement(numbers, VT_R8, 0, &element));
  EXPECT_FALSE(BorrowElement(numbers, VT_CY, 0, &element));
  SafeArrayDestroy(numbers);

  SAFEARRAY* texts = SafeArrayCreateVector(VT_BSTR, 0, 1);
  ASSERT_NE(texts, nullptr);
  static_cast<BSTR*>(texts->pvData)[0] = SysAllocString(OLESTR("x"));
  ASSERT_TRUE(BorrowElement(texts, VT_BSTR, 0, &element));
  EXPECT_EQ(Literal(std::basic_string<WCHAR>(element.bstrVal, 1)), "\"x\"");
  SafeArrayDestroy(texts);  // frees the string the element only borrowed
}

}  // namespace
