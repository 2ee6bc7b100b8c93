// UTF-8 and UTF-16 conversions.
#include "text/utf.h"

namespace {

// The range of valid second bytes after a lead byte; the bytes after the
// second are always 0x80..0xBF. Tight ranges here are what keep overlong
// forms, UTF-16 surrogates and values above U+10FFFF out, and what tell how
// far a broken sequence still looked like a valid one.
struct Lead {
  int trail;  // count of continuation bytes, -1 for an invalid lead
  unsigned char low, high;
};
Lead ClassifyLead(unsigned char b) {
  if (b < 0x80) return {0, 0, 0};
  if (b >= 0xC2 && b <= 0xDF) return {1, 0x80, 0xBF};
  if (b == 0xE0) return {2, 0xA0, 0xBF};
  if (b == 0xED) return {2, 0x80, 0x9F};
  if (b >= 0xE1 && b <= 0xEF) return {2, 0x80, 0xBF};
  if (b == 0xF0) return {3, 0x90, 0xBF};
  if (b >= 0xF1 && b <= 0xF3) return {3, 0x80, 0xBF};
  if (b == 0xF4) return {3, 0x80, 0x8F};
  return {-1, 0, 0};
}

// Reads the sequence at s[i]: true with its code point when it is whole and
// valid; either way `length` counts the bytes that fitted a valid sequence.
bool Scan(std::string_view s, size_t i, char32_t* cp, size_t* length) {
  const auto byte = [s](size_t k) { return static_cast<unsigned char>(s[k]); };
  const Lead lead = ClassifyLead(byte(i));
  *length = 1;
  if (lead.trail < 0) return false;
  char32_t code = lead.trail == 0 ? byte(i) : byte(i) & (0x3F >> lead.trail);
  for (int k = 0; k < lead.trail; ++k) {
    const size_t next = i + 1 + k;
    const unsigned char low = k == 0 ? lead.low : 0x80;
    const unsigned char high = k == 0 ? lead.high : 0xBF;
    if (next >= s.size() || byte(next) < low || byte(next) > high) return false;
    code = (code << 6) | (byte(next) & 0x3F);
    ++*length;
  }
  *cp = code;
  return true;
}

}  // namespace

void AppendUtf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

void AppendUtf16(std::u16string& out, char32_t cp) {
  if (cp < 0x10000) {
    out += static_cast<char16_t>(cp);
  } else {
    cp -= 0x10000;
    out += static_cast<char16_t>(0xD800 + (cp >> 10));
    out += static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
  }
}

bool DecodeUtf8(std::string_view s, size_t* i, char32_t* cp) {
  size_t length;
  if (!Scan(s, *i, cp, &length)) return false;
  *i += length;
  return true;
}

std::u16string Utf8ToUtf16(std::string_view text, Utf8Replacement replacement) {
  std::u16string out;
  size_t i = 0;
  while (i < text.size()) {
    char32_t cp;
    size_t length;
    if (!Scan(text, i, &cp, &length)) {
      cp = 0xFFFD;
      if (replacement == Utf8Replacement::kPerByte) length = 1;
    }
    AppendUtf16(out, cp);
    i += length;
  }
  return out;
}
