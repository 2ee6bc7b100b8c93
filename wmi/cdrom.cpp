// CD-ROM device identifier shortening: the model and revision words of an
// IDE CD-ROM drive's identifier, joined by spaces.
#include "wmi/cdrom.h"

#include "text/tokenizer.h"

namespace {

// The formatter's opening quote, then the bus and device type.
const char kPrefix[] = "\"IDE\\CDROM";
constexpr size_t kPrefixLength = sizeof(kPrefix) - 1;

}  // namespace

size_t FindInCodePage(const std::string& text, const std::string& pattern,
                      UINT codePage) {
  if (pattern.size() > text.size()) return std::string::npos;
  const size_t last = text.size() - pattern.size();
  size_t i = 0;
  while (i <= last) {
    if (text.compare(i, pattern.size(), pattern) == 0) return i;
    // Step over a whole double-byte character: its trail byte may equal an
    // ASCII byte such as '\', and a match must not start there.
    const bool lead =
        IsDBCSLeadByteEx(codePage, static_cast<BYTE>(text[i])) != FALSE;
    i += lead && i + 1 < text.size() ? 2 : 1;
  }
  return std::string::npos;
}

void ShortenCdromDeviceId(std::string& value) {
  if (FindInCodePage(value, kPrefix, CP_ACP) == std::string::npos) return;
  // The words are taken from byte 10 on, wherever the prefix stood: in every
  // identifier WMI reports, it stands at the start.
  const std::string rest = value.substr(kPrefixLength);
  value.clear();
  CTokenizer tokenizer(rest, "_");
  std::string part;
  bool first = true;
  while (tokenizer.Next(part)) {
    // A part with a backslash belongs to the instance path; dropping it
    // still leaves the separator for the first part that is kept after it.
    if (FindInCodePage(part, "\\", CP_ACP) == std::string::npos) {
      if (!first) value += ' ';
      value += part;
    }
    first = false;
  }
}
