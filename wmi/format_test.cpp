// Value texts: every row of the type table, the out-slot rule, and the
// bounded formatter's limits and directives.
#include "wmi/format.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <climits>
#include <cstdlib>
#include <limits>
#include <optional>
#include <string>

namespace {

using WString = std::basic_string<WCHAR>;

// The text FormatPropertyValue gives, or nullopt for none; checks that the
// out-slot receives the returned pointer, whatever it held before.
std::optional<WString> Format(const VARIANT& value) {
  WCHAR stale = 0;
  WCHAR* slot = &stale;
  WCHAR* text = FormatPropertyValue(value, &slot);
  EXPECT_EQ(slot, text) << "vt " << value.vt;
  if (!text) return std::nullopt;
  WString result(text);
  std::free(text);
  return result;
}

VARIANT Make(VARTYPE vt) {
  VARIANT v;
  VariantInit(&v);
  v.vt = vt;
  return v;
}
VARIANT I2(SHORT x) {
  VARIANT v = Make(VT_I2);
  v.iVal = x;
  return v;
}
VARIANT I4(LONG x) {
  VARIANT v = Make(VT_I4);
  v.lVal = x;
  return v;
}
VARIANT R4(float x) {
  VARIANT v = Make(VT_R4);
  v.fltVal = x;
  return v;
}
VARIANT R8(double x) {
  VARIANT v = Make(VT_R8);
  v.dblVal = x;
  return v;
}
VARIANT Bool(VARIANT_BOOL x) {
  VARIANT v = Make(VT_BOOL);
  v.boolVal = x;
  return v;
}
VARIANT UI1(BYTE x) {
  VARIANT v = Make(VT_UI1);
  v.bVal = x;
  return v;
}
VARIANT Bstr(BSTR x) {
  VARIANT v = Make(VT_BSTR);
  v.bstrVal = x;
  return v;
}

TEST(FormatPropertyValue, ScalarRows) {
  const struct {
    VARIANT value;
    const WCHAR* text;
  } cases[] = {
      {Make(VT_NULL), OLESTR("<null>")},
      {I2(-1), OLESTR("65535 (0xFFFF)")},
      {I2(5), OLESTR("5 (0x5)")},
      {I2(SHRT_MIN), OLESTR("32768 (0x8000)")},
      {I4(-1), OLESTR("-1 (0xFFFFFFFF)")},
      {I4(0), OLESTR("0 (0x0)")},
      {I4(255), OLESTR("255 (0xFF)")},
      {I4(INT_MIN), OLESTR("-2147483648 (0x80000000)")},
      {I4(INT_MAX), OLESTR("2147483647 (0x7FFFFFFF)")},
      {R4(0.1f), OLESTR("    0.1000")},
      {R8(3.5), OLESTR("    3.5000")},
      {R8(-2.25), OLESTR("   -2.2500")},
      {R8(-0.0), OLESTR("   -0.0000")},
      {R8(0.00015), OLESTR("    0.0001")},  // the double lies just below
      {R8(123456789.125), OLESTR("123456789.1250")},
      {R8(std::numeric_limits<double>::infinity()), OLESTR("       inf")},
      {R8(-std::numeric_limits<double>::infinity()), OLESTR("      -inf")},
      {R8(std::numeric_limits<double>::quiet_NaN()), OLESTR("       nan")},
      {Bool(VARIANT_FALSE), OLESTR("FALSE")},
      {Bool(VARIANT_TRUE), OLESTR("TRUE")},
      {Bool(1), OLESTR("TRUE")},
      {UI1(0), OLESTR("0 (0x0)")},
      {UI1(31), OLESTR("31 (0x1F)")},
      {UI1(32), OLESTR("' ' (32, 0x20)")},
      {UI1(65), OLESTR("'A' (65, 0x41)")},
      {UI1(127), OLESTR("'\x7F' (127, 0x7F)")},
      {UI1(128), OLESTR("'\x80' (128, 0x80)")},
      {UI1(255), OLESTR("'\xFF' (255, 0xFF)")},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Format(c.value), WString(c.text)) << "vt " << c.value.vt;
  }
}

TEST(FormatPropertyValue, LongRealsAreWrittenWhole) {
  const std::optional<WString> big = Format(R8(1e300));
  ASSERT_TRUE(big.has_value());
  EXPECT_EQ(big->size(), 306u);
  EXPECT_EQ(big->substr(0, 20), OLESTR("10000000000000000525"));
  EXPECT_EQ(big->substr(301), OLESTR(".0000"));

  const std::optional<WString> biggest = Format(R8(-DBL_MAX));
  ASSERT_TRUE(biggest.has_value());
  EXPECT_EQ(biggest->size(), 315u);
  EXPECT_EQ(biggest->substr(0, 11), OLESTR("-1797693134"));
}

TEST(FormatPropertyValue, StringsInDoubleQuotes) {
  const struct {
    const WCHAR* text;
    UINT length;
    const WCHAR* expected;
  } cases[] = {
      {OLESTR("Model 7"), 7, OLESTR("\"Model 7\"")},
      {OLESTR(""), 0, OLESTR("\"\"")},
      {OLESTR("ab\0cd"), 5, OLESTR("\"ab\"")},  // stops at the first NUL
      {OLESTR("\x00E9\xD83D\xDE00"), 3, OLESTR("\"\x00E9\xD83D\xDE00\"")},
  };
  for (const auto& c : cases) {
    BSTR text = SysAllocStringLen(c.text, c.length);
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(Format(Bstr(text)), WString(c.expected));
    SysFreeString(text);
  }
  // A null BSTR is COM's empty string.
  EXPECT_EQ(Format(Bstr(nullptr)), WString(OLESTR("\"\"")));
}

TEST(FormatPropertyValue, RowsWithoutText) {
  const VARTYPE codes[] = {VT_DISPATCH,
                           VT_ARRAY | VT_I2,
                           VT_ARRAY | VT_I4,
                           VT_ARRAY | VT_R4,
                           VT_ARRAY | VT_R8,
                           VT_ARRAY | VT_BSTR,
                           VT_ARRAY | VT_DISPATCH,
                           VT_ARRAY | VT_BOOL,
                           VT_ARRAY | VT_UI1};
  for (VARTYPE vt : codes) EXPECT_EQ(Format(Make(vt)), std::nullopt) << vt;
}

TEST(FormatPropertyValue, OtherCodesAreConversionErrors) {
  const VARTYPE codes[] = {VT_EMPTY,
                           VT_CY,
                           VT_DATE,
                           VT_ERROR,
                           VT_VARIANT,
                           VT_UNKNOWN,
                           VT_DECIMAL,
                           15,
                           VT_I1,
                           VT_UI2,
                           VT_UI4,
                           VT_I8,
                           VT_UINT,
                           VT_ARRAY | VT_CY,
                           VT_ARRAY | VT_ERROR,
                           VT_ARRAY | VT_VARIANT,
                           VT_ARRAY | VT_UNKNOWN,
                           VT_BYREF | VT_I4,
                           VT_BYREF | VT_BSTR,
                           VT_BYREF | VT_ARRAY | VT_BSTR,
                           0xFFFF};
  for (VARTYPE vt : codes) {
    EXPECT_EQ(Format(Make(vt)), WString(OLESTR("<conversion error>"))) << vt;
  }
}

constexpr HRESULT kCut = static_cast<HRESULT>(0x8007007A);

TEST(FormatWideBounded, StaysInsideTheBuffer) {
  const struct {
    uint32_t bytes;
    const WCHAR* format;
    HRESULT result;
    const WCHAR* text;  // null: the buffer is untouched
  } cases[] = {
      {0, OLESTR("abc"), E_INVALIDARG, nullptr},
      {1, OLESTR("abc"), E_INVALIDARG, nullptr},
      {2, OLESTR(""), S_OK, OLESTR("")},
      {2, OLESTR("a"), kCut, OLESTR("")},
      {9, OLESTR("abc"), S_OK, OLESTR("abc")},
      {8, OLESTR("abc"), S_OK, OLESTR("abc")},
      {9, OLESTR("ab"), S_OK, OLESTR("ab")},
      {9, OLESTR("abcdef"), kCut, OLESTR("abc")},
      {9, OLESTR("abcd"), kCut, OLESTR("abc")},
  };
  for (const auto& c : cases) {
    WCHAR dest[8];
    for (WCHAR& w : dest) w = '#';
    EXPECT_EQ(FormatWideBounded(dest, c.bytes, c.format), c.result) << c.bytes;
    const size_t capacity = c.bytes / 2;
    if (!c.text) {
      EXPECT_EQ(dest[0], '#');
      continue;
    }
    EXPECT_EQ(WString(dest), WString(c.text)) << c.bytes;
    for (size_t i = capacity; i < 8; ++i) EXPECT_EQ(dest[i], '#') << i;
  }
}

TEST(FormatWideBounded, Directives) {
  WCHAR dest[64];
  auto check = [&dest](HRESULT result, const WCHAR* expected) {
    EXPECT_EQ(result, S_OK);
    EXPECT_EQ(WString(dest), WString(expected));
  };
  const uint32_t size = sizeof(dest);
  check(FormatWideBounded(dest, size, OLESTR("%d|%5d|%-5d|%05d|%+d|% d"), -7,
                          42, 42, -42, 5, 5),
        OLESTR("-7|   42|42   |-0042|+5| 5"));
  check(FormatWideBounded(dest, size, OLESTR("%.3d|%.0d|%8.3X"), 7, 0, 0xA),
        OLESTR("007||     00A"));
  check(FormatWideBounded(dest, size, OLESTR("%X %x %u %hX %hd %hu"), 0xABCDEF,
                          0xABCDEF, -1, 0x12345, 0xFFFF, 70000),
        OLESTR("ABCDEF abcdef 4294967295 2345 -1 4464"));
  check(FormatWideBounded(dest, size, OLESTR("%c%c|%3c|%-3c|"), 0x263A, 'x',
                          'y', 'z'),
        OLESTR("\x263Ax|  y|z  |"));
  check(FormatWideBounded(dest, size, OLESTR("%wS|%5ls|%-4ws|%wS"),
                          OLESTR("ab"), OLESTR("cd"), OLESTR("e"),
                          static_cast<const WCHAR*>(nullptr)),
        OLESTR("ab|   cd|e   |(null)"));
  check(FormatWideBounded(dest, size, OLESTR("100%% %f %.1f %08.2f %-8.1f|"),
                          1.5, 0.25, -1.5, 2.0),
        OLESTR("100% 1.500000 0.2 -0001.50 2.0     |"));
  check(FormatWideBounded(dest, size, OLESTR("%05f"),
                          std::numeric_limits<double>::infinity()),
        OLESTR("  inf"));
}

TEST(FormatWideBounded, CutsInsideDirectivesAndStopsAtUnknownOnes) {
  WCHAR dest[16];
  EXPECT_EQ(FormatWideBounded(dest, 6, OLESTR("%d"), 12345), kCut);
  EXPECT_EQ(WString(dest), OLESTR("12"));
  EXPECT_EQ(FormatWideBounded(dest, 6, OLESTR("%wS"), OLESTR("abcdef")), kCut);
  EXPECT_EQ(WString(dest), OLESTR("ab"));

  const WCHAR* unknown[] = {OLESTR("ab%q"), OLESTR("ab%s"), OLESTR("ab%S"),
                            OLESTR("ab%"),  OLESTR("ab%5"), OLESTR("ab%ld")};
  for (const WCHAR* format : unknown) {
    EXPECT_EQ(FormatWideBounded(dest, sizeof(dest), format, 1), kCut);
    EXPECT_EQ(WString(dest), OLESTR("ab"));
  }
  EXPECT_EQ(FormatWideBounded(nullptr, 8, OLESTR("a")), E_INVALIDARG);
  EXPECT_EQ(FormatWideBounded(dest, 8, nullptr), E_INVALIDARG);
}

}  // namespace
