// The stand-in's UTF-8 ANSI code page: replacement of bad input, Windows'
// length and buffer rules, lead-byte tests.
#include <gtest/gtest.h>

#include <string>

#include "posix/com.h"

namespace {

std::u16string ToWide(const std::string& in, UINT codePage = CP_ACP) {
  int n = MultiByteToWideChar(codePage, 0, in.data(),
                              static_cast<int>(in.size()), nullptr, 0);
  std::u16string out(static_cast<size_t>(n), u'\0');
  EXPECT_EQ(MultiByteToWideChar(codePage, 0, in.data(),
                                static_cast<int>(in.size()), out.data(), n),
            n);
  return out;
}

// Windows' questions about the ANSI code page, which the core never asks,
// answered from what the stand-in's conversions and lead-byte test do.
UINT GetACP() {
  const std::string sample = "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80\xFF";
  return ToWide(sample) == ToWide(sample, CP_UTF8) ? CP_UTF8 : CP_ACP;
}
BOOL IsDBCSLeadByte(BYTE byte) { return IsDBCSLeadByteEx(CP_ACP, byte); }

std::string ToNarrow(const std::u16string& in, UINT codePage = CP_ACP) {
  int n =
      WideCharToMultiByte(codePage, 0, in.data(), static_cast<int>(in.size()),
                          nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<size_t>(n), '\0');
  EXPECT_EQ(
      WideCharToMultiByte(codePage, 0, in.data(), static_cast<int>(in.size()),
                          out.data(), n, nullptr, nullptr),
      n);
  return out;
}

TEST(CodePage, DecodesUtf8AndReplacesBadInput) {
  const struct {
    std::string in;
    std::u16string out;
  } cases[] = {
      {"abc", u"abc"},
      {std::string("a\0b", 3), std::u16string(u"a\0b", 3)},
      {"\xC3\xA9", u"\u00E9"},
      {"\xE2\x82\xAC", u"\u20AC"},
      {"\xF0\x9F\x98\x80", u"\U0001F600"},
      {"\xF4\x8F\xBF\xBF", u"\U0010FFFF"},
      {"\x80", u"\uFFFD"},            // stray continuation byte
      {"\xC0\xAF", u"\uFFFD\uFFFD"},  // overlong '/'
      {"\xE0\x80\xAF", u"\uFFFD\uFFFD\uFFFD"},
      {"\xED\xA0\x80", u"\uFFFD\uFFFD\uFFFD"},            // encoded surrogate
      {"\xF4\x90\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD"},  // above U+10FFFF
      {"\xFF"
       "a",
       u"\uFFFDa"},
      {"\xE2\x82"
       "a",
       u"\uFFFDa"},                   // cut sequence: one replacement
      {"a\xF0\x9F\x98", u"a\uFFFD"},  // cut at the end of the input
  };
  for (const auto& c : cases) EXPECT_EQ(ToWide(c.in), c.out) << c.in;
  EXPECT_EQ(ToWide("\xC3\xA9", CP_UTF8), u"\u00E9");
}

TEST(CodePage, EncodesUtf8AndReplacesLoneSurrogates) {
  const struct {
    std::u16string in;
    std::string out;
  } cases[] = {
      {u"abc", "abc"},
      {u"\u00FF", "\xC3\xBF"},
      {u"\uFFFF", "\xEF\xBF\xBF"},
      {u"\U0001F600", "\xF0\x9F\x98\x80"},
      {std::u16string(1, char16_t{0xD83D}), "\xEF\xBF\xBD"},
      {std::u16string(1, char16_t{0xDE00}) + u"x", "\xEF\xBF\xBDx"},
      {std::u16string{char16_t{0xDE00}, char16_t{0xD83D}},
       "\xEF\xBF\xBD\xEF\xBF\xBD"},  // reversed pair
  };
  for (const auto& c : cases) EXPECT_EQ(ToNarrow(c.in), c.out);
}

TEST(CodePage, MinusOneCountsTheTerminator) {
  WCHAR wide[8];
  EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, "ab", -1, nullptr, 0), 3);
  EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, "ab", -1, wide, 8), 3);
  EXPECT_EQ(std::u16string(wide), u"ab");
  EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, "", -1, wide, 8), 1);
  EXPECT_EQ(wide[0], 0);

  char narrow[8];
  EXPECT_EQ(WideCharToMultiByte(CP_ACP, 0, u"\u00E9", -1, nullptr, 0, nullptr,
                                nullptr),
            3);
  EXPECT_EQ(WideCharToMultiByte(CP_ACP, 0, u"\u00E9", -1, narrow, 8, nullptr,
                                nullptr),
            3);
  EXPECT_STREQ(narrow, "\xC3\xA9");
}

TEST(CodePage, TooSmallBufferFailsWithInsufficientBuffer) {
  WCHAR wide[2];
  SetLastError(0);
  EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, "abc", 3, wide, 2), 0);
  EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);

  // A character is never split to fill the buffer.
  char narrow[3];
  SetLastError(0);
  EXPECT_EQ(WideCharToMultiByte(CP_ACP, 0, u"a\u20AC", 2, narrow, 3, nullptr,
                                nullptr),
            0);
  EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
}

TEST(CodePage, RejectsInvalidArguments) {
  WCHAR wide[4];
  char narrow[4];
  const int results[] = {
      MultiByteToWideChar(CP_ACP, 0, "a", 0, wide, 4),
      MultiByteToWideChar(CP_ACP, 0, "a", -2, wide, 4),
      MultiByteToWideChar(CP_ACP, 0, "a", 1, nullptr, 4),
      MultiByteToWideChar(1252, 0, "a", 1, wide, 4),
      WideCharToMultiByte(CP_ACP, 0, u"a", 0, narrow, 4, nullptr, nullptr),
      // UTF-8 encodes everything, so Windows refuses a default character.
      WideCharToMultiByte(CP_UTF8, 0, u"a", 1, narrow, 4, "?", nullptr),
  };
  for (int result : results) EXPECT_EQ(result, 0);
  SetLastError(0);
  MultiByteToWideChar(CP_ACP, 0, nullptr, 1, wide, 4);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
}

TEST(CodePage, LeadBytes) {
  EXPECT_EQ(GetACP(), CP_UTF8);
  for (int b = 0; b < 256; ++b) {
    const BYTE byte = static_cast<BYTE>(b);
    const bool sjis = (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC);
    EXPECT_EQ(IsDBCSLeadByteEx(932, byte), sjis ? TRUE : FALSE) << b;
    EXPECT_FALSE(IsDBCSLeadByteEx(CP_ACP, byte));
    EXPECT_FALSE(IsDBCSLeadByteEx(CP_UTF8, byte));
    EXPECT_FALSE(IsDBCSLeadByte(byte));
  }
}

}  // namespace
