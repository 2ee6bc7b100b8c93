// Fuzzes ShortenCdromDeviceId against a plain reference, and the code-page
// search under it in the system code page and in a double-byte one (932).
// Input: one byte choosing the pattern length, the pattern, then the text.
#include <string>

#include "fuzz/reader.h"
#include "wmi/cdrom.h"

namespace {

// The shortening done the long way: the words after the 10-byte prefix,
// split on '_', those without '\' joined by one space.
std::string Shortened(const std::string& value) {
  if (value.find("\"IDE\\CDROM") == std::string::npos) return value;
  std::string result;
  bool first = true;
  size_t i = 10;
  while (i < value.size()) {
    if (value[i] == '_') {
      ++i;
      continue;
    }
    const size_t end = value.find('_', i);
    const std::string part =
        value.substr(i, end == std::string::npos ? std::string::npos : end - i);
    if (part.find('\\') == std::string::npos) {
      if (!first) result += ' ';
      result += part;
    }
    first = false;
    i += part.size();
  }
  return result;
}

// Shift-JIS lead bytes.
bool IsLead932(unsigned char b) {
  return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC);
}

size_t Find932(const std::string& text, const std::string& pattern) {
  size_t i = 0;
  while (i + pattern.size() <= text.size()) {
    if (text.compare(i, pattern.size(), pattern) == 0) return i;
    i += IsLead932(static_cast<unsigned char>(text[i])) && i + 1 < text.size()
             ? 2
             : 1;
  }
  return std::string::npos;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  ByteReader in(data, size);
  const std::string pattern = in.Text(in.Byte() % 16);
  const std::string text = in.Rest();

  // The stand-in's system code page is UTF-8, which has no lead bytes.
  FUZZ_CHECK(FindInCodePage(text, pattern, CP_ACP) == text.find(pattern));
  FUZZ_CHECK(FindInCodePage(text, pattern, 932) == Find932(text, pattern));

  std::string value = text;
  ShortenCdromDeviceId(value);
  FUZZ_CHECK(value == Shortened(text));
  return 0;
}
