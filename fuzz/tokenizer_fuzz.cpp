// Fuzzes CTokenizer with any text and any delimiter set, checking its tokens
// against a plain reference split.
// Input: one byte n, n delimiter bytes, then the text.
#include <string>
#include <vector>

#include "fuzz/reader.h"
#include "text/tokenizer.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  ByteReader in(data, size);
  const std::string delimiters = in.Text(in.Byte());
  const std::string text = in.Rest();

  bool isDelimiter[256] = {};
  for (char c : delimiters) isDelimiter[static_cast<unsigned char>(c)] = true;
  std::vector<std::string> expected;
  std::string current;
  for (char c : text) {
    if (isDelimiter[static_cast<unsigned char>(c)]) {
      if (!current.empty()) expected.push_back(current);
      current.clear();
    } else {
      current += c;
    }
  }
  if (!current.empty()) expected.push_back(current);

  CTokenizer tokenizer(text, delimiters);
  std::string out = "stale";
  size_t count = 0;
  while (tokenizer.Next(out)) {
    FUZZ_CHECK(count < expected.size());
    FUZZ_CHECK(out == expected[count]);
    ++count;
    out += "stale";
  }
  FUZZ_CHECK(count == expected.size());
  FUZZ_CHECK(out.empty());
  // The end is sticky.
  out = "stale";
  FUZZ_CHECK(!tokenizer.Next(out));
  FUZZ_CHECK(out.empty());
  return 0;
}
