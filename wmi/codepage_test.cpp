// ANSI/wide conversions: round trips, embedded NULs, empty and null texts,
// and that every BSTR handed out can be freed.
#include "wmi/codepage.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(AnsiCodePage, WideToAnsiStopsAtFirstNul) {
  EXPECT_EQ(WideToAnsi(nullptr), "");
  EXPECT_EQ(WideToAnsi(OLESTR("")), "");
  EXPECT_EQ(WideToAnsi(OLESTR("Model 7")), "Model 7");
  const WCHAR withNul[] = {'a', 'b', 0, 'c', 0};
  EXPECT_EQ(WideToAnsi(withNul), "ab");
}

TEST(AnsiCodePage, AnsiToBstrKeepsEveryByte) {
  BSTR empty = AnsiToBstr("");
  ASSERT_NE(empty, nullptr);
  EXPECT_EQ(SysStringLen(empty), 0u);
  EXPECT_EQ(empty[0], 0);
  SysFreeString(empty);

  BSTR query = AnsiToBstr("SELECT Model FROM Win32_ComputerSystem");
  ASSERT_NE(query, nullptr);
  EXPECT_EQ(SysStringLen(query), 38u);
  EXPECT_EQ(WideToAnsi(query), "SELECT Model FROM Win32_ComputerSystem");
  SysFreeString(query);

  // An explicit length carries an inner NUL into the BSTR.
  BSTR withNul = AnsiToBstr(std::string("a\0b", 3));
  ASSERT_NE(withNul, nullptr);
  ASSERT_EQ(SysStringLen(withNul), 3u);
  EXPECT_EQ(withNul[1], 0);
  EXPECT_EQ(withNul[2], 'b');
  SysFreeString(withNul);
}

}  // namespace
