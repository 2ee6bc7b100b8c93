// The stand-in's ANSI code page: UTF-8, converted to and from UTF-16 with the
// argument rules and replacement behaviour of Windows' CP_UTF8 conversions.
#include <algorithm>
#include <climits>
#include <cstring>
#include <string>
#include <string_view>

#include "posix/com.h"
#include "text/utf.h"

namespace {

bool IsUtf8CodePage(UINT codePage) {
  return codePage == CP_ACP || codePage == CP_UTF8;
}

// The shared ending of both conversions: copy what fits, then measure, fit or
// fail as Windows does.
template <typename Unit>
int Deliver(const std::basic_string<Unit>& text, Unit* dest, int capacity) {
  if (dest) {
    std::copy_n(text.data(),
                std::min(text.size(), static_cast<size_t>(capacity)), dest);
  }
  if (text.size() > INT_MAX ||
      (capacity != 0 && text.size() > static_cast<size_t>(capacity))) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  return static_cast<int>(text.size());
}

}  // namespace

int MultiByteToWideChar(UINT CodePage, DWORD /*dwFlags*/, LPCSTR lpMultiByteStr,
                        int cbMultiByte, LPWSTR lpWideCharStr,
                        int cchWideChar) {
  // The flags are not looked at: the core passes 0, and CP_UTF8 knows no
  // other flag that changes the result of a successful conversion.
  if (!IsUtf8CodePage(CodePage) || !lpMultiByteStr || cbMultiByte == 0 ||
      cbMultiByte < -1 || cchWideChar < 0 || (cchWideChar && !lpWideCharStr)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  // With -1 the terminator is part of the input and so of the result.
  const std::string_view text(
      lpMultiByteStr, cbMultiByte == -1 ? std::strlen(lpMultiByteStr) + 1
                                        : static_cast<size_t>(cbMultiByte));
  return Deliver(Utf8ToUtf16(text, Utf8Replacement::kPerSequence),
                 lpWideCharStr, cchWideChar);
}

int WideCharToMultiByte(UINT CodePage, DWORD /*dwFlags*/, LPCWSTR lpWideCharStr,
                        int cchWideChar, LPSTR lpMultiByteStr, int cbMultiByte,
                        LPCSTR lpDefaultChar, BOOL* lpUsedDefaultChar) {
  // UTF-8 can encode everything, so Windows refuses a default character for
  // it rather than ignoring one.
  if (!IsUtf8CodePage(CodePage) || !lpWideCharStr || cchWideChar == 0 ||
      cchWideChar < -1 || cbMultiByte < 0 || (cbMultiByte && !lpMultiByteStr) ||
      lpDefaultChar || lpUsedDefaultChar) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  const std::u16string_view text(
      lpWideCharStr, cchWideChar == -1
                         ? std::char_traits<WCHAR>::length(lpWideCharStr) + 1
                         : static_cast<size_t>(cchWideChar));
  // A surrogate without its partner becomes U+FFFD, as on Windows.
  return Deliver(Utf16ToUtf8(text), lpMultiByteStr, cbMultiByte);
}

BOOL IsDBCSLeadByteEx(UINT CodePage, BYTE TestChar) {
  switch (CodePage) {
    case 932:  // Shift-JIS
      return (TestChar >= 0x81 && TestChar <= 0x9F) ||
             (TestChar >= 0xE0 && TestChar <= 0xFC);
    case 936:  // GBK
    case 949:  // Unified Hangul
    case 950:  // Big5
      return TestChar >= 0x81 && TestChar <= 0xFE;
    default:  // UTF-8 among them: a byte search never starts mid-character
      return FALSE;
  }
}
