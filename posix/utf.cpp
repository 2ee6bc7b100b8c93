// UTF-8 and UTF-16 conversions of the stand-in WMI service.
#include "posix/utf.h"

namespace posix_wmi {

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
  unsigned char b = static_cast<unsigned char>(s[*i]);
  int extra;
  char32_t min;
  if (b < 0x80) {
    *cp = b, extra = 0, min = 0;
  } else if ((b & 0xE0) == 0xC0) {
    *cp = b & 0x1F, extra = 1, min = 0x80;
  } else if ((b & 0xF0) == 0xE0) {
    *cp = b & 0x0F, extra = 2, min = 0x800;
  } else if ((b & 0xF8) == 0xF0) {
    *cp = b & 0x07, extra = 3, min = 0x10000;
  } else {
    return false;
  }
  if (s.size() - *i <= static_cast<size_t>(extra)) return false;
  for (int k = 1; k <= extra; ++k) {
    unsigned char c = static_cast<unsigned char>(s[*i + k]);
    if ((c & 0xC0) != 0x80) return false;
    *cp = (*cp << 6) | (c & 0x3F);
  }
  if (*cp < min || *cp > 0x10FFFF || (*cp >= 0xD800 && *cp <= 0xDFFF))
    return false;
  *i += 1 + extra;
  return true;
}

std::string Utf16ToUtf8(std::u16string_view text) {
  std::string out;
  for (size_t k = 0; k < text.size(); ++k) {
    char32_t cp = text[k];
    if (cp >= 0xD800 && cp <= 0xDBFF && k + 1 < text.size() &&
        text[k + 1] >= 0xDC00 && text[k + 1] <= 0xDFFF) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (text[k + 1] - 0xDC00);
      ++k;
    } else if (cp >= 0xD800 && cp <= 0xDFFF) {
      cp = 0xFFFD;
    }
    AppendUtf8(out, cp);
  }
  return out;
}

std::u16string Utf8ToUtf16(std::string_view text) {
  std::u16string out;
  size_t i = 0;
  while (i < text.size()) {
    char32_t cp;
    if (!DecodeUtf8(text, &i, &cp)) {
      cp = 0xFFFD;
      ++i;
    }
    AppendUtf16(out, cp);
  }
  return out;
}

}  // namespace posix_wmi
