// Whole-text UTF conversions: what each replacement policy
// makes of input that cannot be converted.
#include "text/utf.h"

#include <gtest/gtest.h>

namespace {

TEST(Utf, WholeTextConversionsReplaceWhatCannotBeConverted) {
  const struct {
    std::string utf8;
    std::u16string utf16;
  } decodes[] = {
      {"a\xC3\xA9\xF0\x9F\x98\x80", u"a\u00E9\U0001F600"},
      {"\xE2\x82"
       "a",
       u"\uFFFD\uFFFDa"},  // each byte of a cut sequence
      {"\xC0\xAF", u"\uFFFD\uFFFD"},
      {"\xED\xA0\x80", u"\uFFFD\uFFFD\uFFFD"},
  };
  for (const auto& c : decodes) EXPECT_EQ(Utf8ToUtf16(c.utf8), c.utf16);
  EXPECT_EQ(Utf8ToUtf16("\xE2\x82"
                        "a\xC0\xAF",
                        Utf8Replacement::kPerSequence),
            u"\uFFFDa\uFFFD\uFFFD");
  EXPECT_EQ(Utf16ToUtf8(u"\U0001F600\u00E9"), "\xF0\x9F\x98\x80\xC3\xA9");
  EXPECT_EQ(Utf16ToUtf8(std::u16string{char16_t{0xDE00}, char16_t{0xD83D}}),
            "\xEF\xBF\xBD\xEF\xBF\xBD");
}

}  // namespace
