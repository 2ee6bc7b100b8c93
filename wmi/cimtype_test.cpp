// The CIM type table's datetime rule, on both builds: the two forms MOF
// readers take, and the near misses WMI providers hand out.
#include "wmi/cimtype.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(CimType, CimDatetimes) {
  const struct Case {
    const char* text;
    bool valid;
  } cases[] = {
      {"20240102030405.123456+060", true},
      {"20240102030405.123456-300", true},
      {"00000001020304.000000:000", true},
      {"2024********************+***", false},
      {"2024**********.******+***", true},
      {"20240102030405.123456+00", false},  // Wine's LocalDateTime
      {"20240102030405,123456+060", false},
      {"20240102030405.123456*060", false},
      {"", false},
  };
  for (const Case& c : cases) {
    std::basic_string<WCHAR> wide(
        c.text, c.text + std::char_traits<char>::length(c.text));
    EXPECT_EQ(IsCimDatetime(wide.data(), wide.size()), c.valid) << c.text;
  }
}

}  // namespace
