// CTokenizer: delimiter sets, empty tokens never produced, cursor after the
// end, independence from the caller's text.
#include "text/tokenizer.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::vector<std::string> Split(const std::string& text,
                               const std::string& delimiters) {
  CTokenizer tokenizer(text, delimiters);
  std::vector<std::string> tokens;
  std::string token;
  while (tokenizer.Next(token)) tokens.push_back(token);
  EXPECT_TRUE(token.empty());
  return tokens;
}

struct SplitCase {
  const char* name;
  std::string text;
  std::string delimiters;
  std::vector<std::string> tokens;
};

TEST(Tokenizer, SplitsOnDelimiterSet) {
  const std::string high =
      "a\x80"
      "b\xff"
      "c";
  const SplitCase cases[] = {
      {"empty text", "", ";", {}},
      {"only delimiters", ";;;", ";", {}},
      {"runs and edges", ";;A;;B;C;", ";", {"A", "B", "C"}},
      {"no delimiter in text", "abc", ";", {"abc"}},
      {"empty delimiter text", " a;b ", "", {" a;b "}},
      {"several delimiters", "a b;c_d", " ;_", {"a", "b", "c", "d"}},
      {"repeated delimiter byte", "a;b", ";;;;", {"a", "b"}},
      {"high byte as delimiter",
       high,
       "\x80",
       {"a",
        "b\xff"
        "c"}},
      {"other high byte",
       high,
       "\xff",
       {"a\x80"
        "b",
        "c"}},
      {"zero byte as delimiter",
       std::string("a\0b", 3),
       std::string(1, '\0'),
       {"a", "b"}},
      {"zero byte as ordinary",
       std::string("a\0b", 3),
       ";",
       {std::string("a\0b", 3)}},
      {"quotes are ordinary", "\"a b\"\\c", " ", {"\"a", "b\"\\c"}},
      {"command line",
       "Win32_BIOS;Version  Win32_CDROMDrive;DeviceID",
       " ",
       {"Win32_BIOS;Version", "Win32_CDROMDrive;DeviceID"}},
  };
  for (const SplitCase& c : cases) {
    EXPECT_EQ(Split(c.text, c.delimiters), c.tokens) << c.name;
  }
}

TEST(Tokenizer, StaysFalseAfterEndAndClearsOut) {
  CTokenizer tokenizer("x;y", ";");
  std::string out = "stale";
  ASSERT_TRUE(tokenizer.Next(out));
  EXPECT_EQ(out, "x");
  ASSERT_TRUE(tokenizer.Next(out));
  EXPECT_EQ(out, "y");
  for (int i = 0; i < 3; ++i) {
    out = "stale";
    EXPECT_FALSE(tokenizer.Next(out));
    EXPECT_TRUE(out.empty());
  }
}

TEST(Tokenizer, KeepsItsOwnCopyOfTheText) {
  std::string text = "a b";
  std::string delimiters = " ";
  CTokenizer tokenizer(text, delimiters);
  text = "zzzzzzzz";
  delimiters = "a";
  std::string out;
  ASSERT_TRUE(tokenizer.Next(out));
  EXPECT_EQ(out, "a");
  ASSERT_TRUE(tokenizer.Next(out));
  EXPECT_EQ(out, "b");
  EXPECT_FALSE(tokenizer.Next(out));
}

}  // namespace
