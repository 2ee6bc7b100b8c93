// UTF-8 and UTF-16 conversions of the stand-in: the WMI service reads its
// repository and queries as UTF-8 and hands out UTF-16, and the ANSI code
// page is UTF-8. Never compiled on Windows.
#pragma once

#include <string>
#include <string_view>

namespace posix_wmi {

// Decodes one UTF-8 sequence at s[*i] and advances *i past it. Returns
// false, leaving *i alone, on a malformed, overlong or surrogate sequence
// or one past U+10FFFF.
bool DecodeUtf8(std::string_view s, size_t* i, char32_t* cp);

// For a sequence at s[i] that DecodeUtf8 rejects: how many bytes, at least
// one, still made a valid beginning. Windows replaces those with a single
// U+FFFD and starts afresh at the byte that broke the sequence.
size_t BrokenUtf8Length(std::string_view s, size_t i);

void AppendUtf8(std::string& out, char32_t cp);
void AppendUtf16(std::u16string& out, char32_t cp);

// Whole-text conversions. Utf16ToUtf8 makes each unpaired surrogate U+FFFD;
// Utf8ToUtf16 makes each byte that cannot be decoded U+FFFD.
std::string Utf16ToUtf8(std::u16string_view text);
std::u16string Utf8ToUtf16(std::string_view text);

}  // namespace posix_wmi
