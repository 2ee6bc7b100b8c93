// CD-ROM identifier shortening, and the code-page-aware search under it.
#include "wmi/cdrom.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(ShortenCdromDeviceId, RewritesIdeCdromIdentifiers) {
  const struct {
    std::string in;
    std::string out;
  } cases[] = {
      {"\"IDE\\CDROMVENDOR_DVD-RW_DRIVE_X1__________________1.00____"
       "\\5&1A2B3C4D&0&0.0.0\"",
       "VENDOR DVD-RW DRIVE X1 1.00"},
      {"\"IDE\\CDROMVENDOR_X1_1.00\\5&1\"", "VENDOR X1"},
      {"\"IDE\\CDROMVENDOR_X1\"", "VENDOR X1\""},
      {"\"IDE\\CDROM\\5&1_X\"", " X\""},
      {"\"IDE\\CDROM\"", "\""},
      {"\"IDE\\CDROM\\5&1\"", ""},
      {"\"IDE\\CDROMA_\\x_B\"", "A B\""},  // one space around a dropped part
      // The words start at byte 10 wherever the prefix was found.
      {"ab\"IDE\\CDROMX_Y", "OMX Y"},
  };
  for (const auto& c : cases) {
    std::string value = c.in;
    ShortenCdromDeviceId(value);
    EXPECT_EQ(value, c.out) << c.in;
  }
}

TEST(ShortenCdromDeviceId, LeavesOtherTextsAlone) {
  const std::string cases[] = {
      "\"SCSI\\CDROM&VEN_X&PROD_Y\\4&1\"",
      "\"ide\\cdromVENDOR_X1\\5&1\"",  // the search is case-sensitive
      "IDE\\CDROMVENDOR_X1\\5&1",      // no opening quote
      "\"IDE\\CDRO",
      "",
      std::string("\"IDE\\CD\0ROM_X", 13),
  };
  for (const std::string& text : cases) {
    std::string value = text;
    ShortenCdromDeviceId(value);
    EXPECT_EQ(value, text);
  }
}

TEST(FindInCodePage, MatchesStartOnlyAtCharacterStarts) {
  // 0x95 0x5C is one Shift-JIS character whose trail byte is the code of '\'.
  const std::string text = "a\x95\\b\\";
  EXPECT_EQ(FindInCodePage(text, "\\", 932), 4u);
  EXPECT_EQ(FindInCodePage(text, "\\", CP_UTF8), 2u);
  EXPECT_EQ(FindInCodePage("\x95\\", "\\", 932), std::string::npos);
  // A lead byte as the last byte is a character of its own.
  EXPECT_EQ(FindInCodePage("ab\x95", "\x95", 932), 2u);
  // Two double-byte characters in a row: the match must start at the second.
  EXPECT_EQ(FindInCodePage("\x81\x81\x81\\", "\x81\\", 932), 2u);
  EXPECT_EQ(FindInCodePage("\x81\x81\x81\\", "\x81\\", CP_UTF8), 2u);
  EXPECT_EQ(FindInCodePage("\x81\x81\x81\x81\\", "\x81\\", 932),
            std::string::npos);
  EXPECT_EQ(FindInCodePage("abc", "", 932), 0u);
  EXPECT_EQ(FindInCodePage("ab", "abc", CP_UTF8), std::string::npos);
  EXPECT_EQ(FindInCodePage("xx\"IDE\\CDROM", "\"IDE\\CDROM", CP_ACP), 2u);
}

}  // namespace
