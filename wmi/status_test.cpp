// WBEM status names: the table's edges and gaps, and the shared fallback
// buffer.
#include "wmi/status.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <set>
#include <string>

namespace {

HRESULT Code(uint32_t pattern) { return static_cast<HRESULT>(pattern); }

TEST(WbemStatusName, NamesAndFallbacks) {
  const struct {
    uint32_t code;
    const char* text;
  } cases[] = {
      {0x00000000, "WBEM_NO_ERROR"},
      {0x00000001, "WBEM_S_FALSE"},
      {0x00040001, "WBEM_S_ALREADY_EXISTS"},
      {0x00040003, "WBEM_S_DIFFERENT"},
      {0x00040004, "0x40004"},  // the gap between two success rows
      {0x00040005, "WBEM_S_NO_MORE_DATA"},
      {0x00000002, "0x2"},
      {0x80041000, "0x80041000"},
      {0x80041001, "WBEM_E_FAILED"},
      {0x8004100A, "WBEM_E_CRITICAL_ERROR"},
      {0x80041012, "WBEM_E_INVALID_PROVIDER_REGISTRATION"},
      {0x80041017, "WBEM_E_INVALID_QUERY"},
      {0x8004102C, "WBEM_E_CANNOT_BE_SINGLETON"},
      {0x8004102D, "0x8004102d"},
      {0x80070005, "0x80070005"},
      {0xFFFFFFFF, "0xffffffff"},
      {0x00041001, "0x41001"},  // an error row's pattern without its sign bit
  };
  for (const auto& c : cases) {
    EXPECT_STREQ(GetWbemStatusName(Code(c.code)), c.text) << std::hex << c.code;
  }
}

TEST(WbemStatusName, EveryErrorRowFrom1001To102CIsNamed) {
  std::set<std::string> names;
  for (uint32_t code = 0x80041001; code <= 0x8004102C; ++code) {
    const std::string name = GetWbemStatusName(Code(code));
    EXPECT_EQ(name.rfind("WBEM_E_", 0), 0u) << std::hex << code << " " << name;
    names.insert(name);
  }
  EXPECT_EQ(names.size(), 44u);  // no row repeats another's name
}

TEST(WbemStatusName, FallbacksShareOneBuffer) {
  const char* first = GetWbemStatusName(2);
  EXPECT_STREQ(first, "0x2");
  const char* named = GetWbemStatusName(Code(0x80041002));
  EXPECT_STREQ(named, "WBEM_E_NOT_FOUND");
  EXPECT_STREQ(first, "0x2");  // a named code leaves the buffer alone
  const char* second = GetWbemStatusName(Code(0x80070005));
  EXPECT_EQ(second, first);
  EXPECT_STREQ(first, "0x80070005");
}

}  // namespace
