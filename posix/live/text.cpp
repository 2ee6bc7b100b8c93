// Text helpers shared by the live provider's parsers of procfs and sysfs
// files.
#include "posix/live/facts.h"

namespace posix_wmi {
namespace {

// Digits only, so that a sign, a blank or a trailing unit fails the value;
// the digit cap keeps the result from wrapping.
bool ParseDigits(std::string_view s, size_t maxDigits, uint64_t& out) {
  if (s.empty() || s.size() > maxDigits) return false;
  uint64_t v = 0;
  for (char c : s) {
    if (c < '0' || c > '9') return false;
    v = v * 10 + static_cast<uint64_t>(c - '0');
  }
  out = v;
  return true;
}

}  // namespace

std::string_view Trim(std::string_view s) {
  size_t b = s.find_first_not_of(" \t");
  if (b == std::string_view::npos) return {};
  size_t e = s.find_last_not_of(" \t\r\n");
  return s.substr(b, e - b + 1);
}

std::string_view NextLine(std::string_view& text) {
  size_t nl = text.find('\n');
  std::string_view line = text.substr(0, nl);
  text =
      nl == std::string_view::npos ? std::string_view() : text.substr(nl + 1);
  return line;
}

bool ParseU32(std::string_view s, uint32_t& out) {
  uint64_t v;
  if (!ParseDigits(s, 9, v)) return false;
  out = static_cast<uint32_t>(v);
  return true;
}

bool ParseU64(std::string_view s, uint64_t& out) {
  return ParseDigits(s, 19, out);
}

std::vector<std::string> SplitPath(std::string_view path) {
  std::vector<std::string> parts;
  size_t at = 0;
  while (at <= path.size()) {
    size_t slash = path.find('/', at);
    if (slash == std::string_view::npos) slash = path.size();
    if (slash > at) parts.emplace_back(path.substr(at, slash - at));
    at = slash + 1;
  }
  return parts;
}

// Sysfs writes some numbers as "0x8086", procfs some as "0101A8C0".
std::optional<uint64_t> ParseHex(std::string_view s) {
  if (s.starts_with("0x")) s.remove_prefix(2);
  if (s.empty() || s.size() > 16) return std::nullopt;
  uint64_t v = 0;
  for (char c : s) {
    int d = c >= '0' && c <= '9'   ? c - '0'
            : c >= 'a' && c <= 'f' ? c - 'a' + 10
            : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                   : -1;
    if (d < 0) return std::nullopt;
    v = v << 4 | static_cast<uint64_t>(d);
  }
  return v;
}

}  // namespace posix_wmi
