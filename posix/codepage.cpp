// The stand-in's ANSI code page: UTF-8, converted to and from UTF-16 with the
// argument rules and replacement behaviour of Windows' CP_UTF8 conversions.
#include <climits>
#include <cstdint>
#include <cstring>

#include "posix/com.h"

namespace {

constexpr char16_t kReplacement = 0xFFFD;

bool IsUtf8CodePage(UINT codePage) {
  return codePage == CP_ACP || codePage == CP_UTF8;
}

// Collects output units, writing only what fits and counting all of them, so
// that one pass both measures and converts.
template <typename Unit>
class Sink {
 public:
  Sink(Unit* dest, int capacity) : m_dest(dest), m_capacity(capacity) {}
  void Put(Unit unit) {
    if (m_dest && m_count < m_capacity) m_dest[m_count] = unit;
    ++m_count;
  }
  int64_t Count() const { return m_count; }

 private:
  Unit* m_dest;
  int64_t m_capacity;
  int64_t m_count = 0;
};

// The shared ending of both conversions: measure, fit or fail as Windows
// does.
int Finish(int64_t needed, int capacity) {
  if (needed > INT_MAX || (capacity != 0 && needed > capacity)) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  return static_cast<int>(needed);
}

// The range of valid second bytes after a lead byte; the bytes after the
// second are always 0x80..0xBF. Tight ranges here are what keep overlong
// forms, UTF-16 surrogates and values above U+10FFFF out.
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
  const auto* in = reinterpret_cast<const unsigned char*>(lpMultiByteStr);
  // With -1 the terminator is part of the input and so of the result.
  const size_t length = cbMultiByte == -1 ? std::strlen(lpMultiByteStr) + 1
                                          : static_cast<size_t>(cbMultiByte);
  Sink<WCHAR> out(lpWideCharStr, cchWideChar);
  size_t i = 0;
  while (i < length) {
    const Lead lead = ClassifyLead(in[i]);
    if (lead.trail < 0) {
      out.Put(kReplacement);
      ++i;
      continue;
    }
    uint32_t code = lead.trail == 0 ? in[i] : in[i] & (0x3F >> lead.trail);
    size_t next = i + 1;
    bool valid = true;
    for (int k = 0; k < lead.trail; ++k, ++next) {
      const unsigned char low = k == 0 ? lead.low : 0x80;
      const unsigned char high = k == 0 ? lead.high : 0xBF;
      if (next >= length || in[next] < low || in[next] > high) {
        valid = false;
        break;
      }
      code = (code << 6) | (in[next] & 0x3F);
    }
    // A broken sequence becomes one U+FFFD for the bytes that were still a
    // valid beginning; the byte that broke it starts afresh.
    i = next;
    if (!valid) {
      out.Put(kReplacement);
    } else if (code < 0x10000) {
      out.Put(static_cast<WCHAR>(code));
    } else {
      code -= 0x10000;
      out.Put(static_cast<WCHAR>(0xD800 | (code >> 10)));
      out.Put(static_cast<WCHAR>(0xDC00 | (code & 0x3FF)));
    }
  }
  return Finish(out.Count(), cchWideChar);
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
  size_t length = 0;
  if (cchWideChar == -1) {
    while (lpWideCharStr[length]) ++length;
    ++length;
  } else {
    length = static_cast<size_t>(cchWideChar);
  }
  Sink<char> out(lpMultiByteStr, cbMultiByte);
  auto put = [&out](uint32_t bits) { out.Put(static_cast<char>(bits)); };
  for (size_t i = 0; i < length; ++i) {
    uint32_t code = lpWideCharStr[i];
    if (code >= 0xD800 && code <= 0xDBFF && i + 1 < length &&
        lpWideCharStr[i + 1] >= 0xDC00 && lpWideCharStr[i + 1] <= 0xDFFF) {
      code =
          0x10000 + ((code - 0xD800) << 10) + (lpWideCharStr[i + 1] - 0xDC00);
      ++i;
    } else if (code >= 0xD800 && code <= 0xDFFF) {
      code = kReplacement;  // a surrogate without its partner
    }
    if (code < 0x80) {
      put(code);
    } else if (code < 0x800) {
      put(0xC0 | (code >> 6));
      put(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
      put(0xE0 | (code >> 12));
      put(0x80 | ((code >> 6) & 0x3F));
      put(0x80 | (code & 0x3F));
    } else {
      put(0xF0 | (code >> 18));
      put(0x80 | ((code >> 12) & 0x3F));
      put(0x80 | ((code >> 6) & 0x3F));
      put(0x80 | (code & 0x3F));
    }
  }
  return Finish(out.Count(), cbMultiByte);
}

// UTF-8 has no lead bytes in the double-byte sense: a byte search in it never
// starts inside a character.
BOOL IsDBCSLeadByte(BYTE) { return FALSE; }

BOOL IsDBCSLeadByteEx(UINT CodePage, BYTE TestChar) {
  switch (CodePage) {
    case 932:  // Shift-JIS
      return (TestChar >= 0x81 && TestChar <= 0x9F) ||
             (TestChar >= 0xE0 && TestChar <= 0xFC);
    case 936:  // GBK
    case 949:  // Unified Hangul
    case 950:  // Big5
      return TestChar >= 0x81 && TestChar <= 0xFE;
    default:
      return FALSE;
  }
}

UINT GetACP() { return CP_UTF8; }
