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

void AppendUtf8(std::string& out, char32_t cp);
void AppendUtf16(std::u16string& out, char32_t cp);

// What Utf8ToUtf16 makes U+FFFD: each byte that cannot be decoded, or, as
// Windows does, the bytes of a broken sequence that still made a valid
// beginning, starting afresh at the byte that broke it.
enum class Utf8Replacement { kPerByte, kPerSequence };

// Whole-text conversions. Utf16ToUtf8 makes each unpaired surrogate U+FFFD.
std::string Utf16ToUtf8(std::u16string_view text);
std::u16string Utf8ToUtf16(
    std::string_view text,
    Utf8Replacement replacement = Utf8Replacement::kPerByte);

}  // namespace posix_wmi
