// UTF-8 and UTF-16 conversions of the stand-in WMI service, which reads its
// repository and queries as UTF-8 and hands out UTF-16. Never compiled on
// Windows.
#pragma once

#include <string>
#include <string_view>

namespace posix_wmi {

// Decodes one UTF-8 sequence at s[*i] and advances *i past it. Returns
// false, leaving *i alone, on a malformed, overlong or surrogate sequence
// or one past U+10FFFF.
bool DecodeUtf8(std::string_view s, size_t* i, char32_t* cp);

void AppendUtf8(std::string& out, char32_t cp);
void AppendUtf16(std::u16string& out, char32_t cp);

// Whole-text conversions; what cannot be decoded becomes U+FFFD.
std::string Utf16ToUtf8(std::u16string_view text);
std::u16string Utf8ToUtf16(std::string_view text);

}  // namespace posix_wmi
