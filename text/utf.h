// UTF-8 and UTF-16, converted both ways by one set of rules for broken input
// on every build: the capture tool's MOF text and, on Linux, the stand-in's
// code pages, WMI service and MOF reader all go through here.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// Decodes one UTF-8 sequence at s[*i] and advances *i past it. Returns
// false, leaving *i alone, on a malformed, overlong or surrogate sequence
// or one past U+10FFFF.
bool DecodeUtf8(std::string_view s, size_t* i, char32_t* cp);

void AppendUtf8(std::string& out, char32_t cp);
void AppendUtf16(std::u16string& out, char32_t cp);

// Reads the code point at text[*pos] (*pos < length) and moves *pos past it:
// a surrogate pair as one code point, any other unit as itself, *unpaired
// telling whether that unit is a surrogate without its partner. `Unit` is a
// 16-bit code unit: char16_t, or WCHAR on either build.
template <typename Unit>
char32_t NextUtf16(const Unit* text, size_t length, size_t* pos,
                   bool* unpaired) {
  static_assert(sizeof(Unit) == 2);
  const auto at = [text](size_t k) -> char32_t {
    return static_cast<char16_t>(text[k]);
  };
  const char32_t unit = at((*pos)++);
  const bool high = unit >= 0xD800 && unit <= 0xDBFF;
  if (high && *pos < length && at(*pos) >= 0xDC00 && at(*pos) <= 0xDFFF) {
    *unpaired = false;
    return 0x10000 + ((unit - 0xD800) << 10) + (at((*pos)++) - 0xDC00);
  }
  *unpaired = unit >= 0xD800 && unit <= 0xDFFF;
  return unit;
}

// UTF-8 of `length` UTF-16 code units; each unpaired surrogate becomes
// U+FFFD.
template <typename Unit>
std::string Utf16ToUtf8(const Unit* text, size_t length) {
  std::string out;
  for (size_t pos = 0; pos < length;) {
    bool unpaired = false;
    const char32_t cp = NextUtf16(text, length, &pos, &unpaired);
    AppendUtf8(out, unpaired ? 0xFFFD : cp);
  }
  return out;
}
inline std::string Utf16ToUtf8(std::u16string_view text) {
  return Utf16ToUtf8(text.data(), text.size());
}

// What Utf8ToUtf16 makes U+FFFD: each byte that cannot be decoded, or, as
// Windows does, the bytes of a broken sequence that still made a valid
// beginning, starting afresh at the byte that broke it.
enum class Utf8Replacement { kPerByte, kPerSequence };

std::u16string Utf8ToUtf16(
    std::string_view text,
    Utf8Replacement replacement = Utf8Replacement::kPerByte);
