// Value texts for WMI property values, and the bounded wide formatter that
// writes them. The formatter is our own: the C libraries' wide printf
// functions disagree on %c, %S and %ws, and wchar_t is 16 bits on Windows but
// 32 bits elsewhere, so none of them can give the same text on every build.
#include "wmi/format.h"

#include <charconv>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <string_view>

namespace {

// Writes into a bounded buffer, counting what does not fit so that a cut can
// be told from an exact fit.
class BoundedWriter {
 public:
  BoundedWriter(WCHAR* dest, uint32_t limit) : m_dest(dest), m_limit(limit) {}

  void Put(WCHAR c) {
    if (m_count < m_limit) m_dest[m_count] = c;
    ++m_count;
  }
  void Repeat(WCHAR c, size_t times) {
    for (size_t i = 0; i < times; ++i) Put(c);
  }
  void PutAscii(std::string_view text) {
    for (char c : text) Put(static_cast<WCHAR>(static_cast<unsigned char>(c)));
  }
  bool Cut() const { return m_count > m_limit; }
  uint64_t Count() const { return m_count; }

 private:
  WCHAR* m_dest;
  uint64_t m_limit;
  uint64_t m_count = 0;
};

struct Directive {
  bool left = false;
  bool zero = false;
  bool plus = false;
  bool space = false;
  size_t width = 0;
  int precision = -1;  // -1: none given
};

// One number: sign, zeros that the precision asks for, then digits, padded
// to the width. Zero padding goes between the sign and the digits, as printf
// does it.
void PutNumber(BoundedWriter& out, const Directive& d, bool negative,
               size_t zeros, std::string_view digits) {
  char sign = 0;
  if (negative) {
    sign = '-';
  } else if (d.plus) {
    sign = '+';
  } else if (d.space) {
    sign = ' ';
  }
  const size_t length = zeros + digits.size() + (sign ? 1 : 0);
  const size_t pad = d.width > length ? d.width - length : 0;
  if (!d.left && !d.zero) out.Repeat(' ', pad);
  if (sign) out.Put(static_cast<WCHAR>(sign));
  if (!d.left && d.zero) out.Repeat('0', pad);
  out.Repeat('0', zeros);
  out.PutAscii(digits);
  if (d.left) out.Repeat(' ', pad);
}

// Integer digits with printf's precision: at least that many digits, and
// none at all for a zero with precision 0.
void PutInteger(BoundedWriter& out, Directive d, bool negative,
                uint32_t magnitude, int base, bool upper) {
  char buffer[40];
  char* end =
      std::to_chars(buffer, buffer + sizeof(buffer), magnitude, base).ptr;
  if (upper) {
    for (char* p = buffer; p < end; ++p) {
      if (*p >= 'a' && *p <= 'f') *p = static_cast<char>(*p - 'a' + 'A');
    }
  }
  std::string_view digits(buffer, static_cast<size_t>(end - buffer));
  if (d.precision == 0 && magnitude == 0) digits = {};
  size_t zeros = 0;
  if (d.precision >= 0) {
    const size_t precision = static_cast<size_t>(d.precision);
    if (precision > digits.size()) zeros = precision - digits.size();
    d.zero = false;  // a precision overrides the 0 flag
  }
  PutNumber(out, d, negative, zeros, digits);
}

// Fixed point through to_chars: exact digits, and '.' whatever the locale.
// The largest double has 309 integer digits; precision is held to 100 places.
void PutFixed(BoundedWriter& out, Directive d, double value) {
  const int precision =
      d.precision < 0 ? 6 : (d.precision > 100 ? 100 : d.precision);
  char buffer[512];
  const std::to_chars_result result =
      std::to_chars(buffer, buffer + sizeof(buffer), value,
                    std::chars_format::fixed, precision);
  std::string_view text(buffer, static_cast<size_t>(result.ptr - buffer));
  const bool negative = !text.empty() && text[0] == '-';
  if (negative) text.remove_prefix(1);
  // Zero padding would turn "inf" into "000inf".
  if (text.find_first_not_of("0123456789.") != std::string_view::npos) {
    d.zero = false;
  }
  PutNumber(out, d, negative, 0, text);
}

void PutWide(BoundedWriter& out, const Directive& d, const WCHAR* text) {
  if (!text) {
    static const WCHAR kNull[] = {'(', 'n', 'u', 'l', 'l', ')', 0};
    text = kNull;
  }
  size_t length = 0;
  while (text[length]) ++length;
  const size_t pad = d.width > length ? d.width - length : 0;
  if (!d.left) out.Repeat(' ', pad);
  for (size_t i = 0; i < length; ++i) out.Put(text[i]);
  if (d.left) out.Repeat(' ', pad);
}

// Reads a run of decimal digits, saturating instead of overflowing.
size_t ReadNumber(const WCHAR*& p) {
  size_t n = 0;
  while (*p >= '0' && *p <= '9') {
    if (n < 100000) n = n * 10 + static_cast<size_t>(*p - '0');
    ++p;
  }
  return n;
}

// Formats the whole text; false for a directive it does not know, where the
// text stops.
bool FormatInto(BoundedWriter& out, const WCHAR* p, va_list args) {
  while (*p) {
    if (*p != '%') {
      out.Put(*p++);
      continue;
    }
    ++p;
    if (*p == '%') {
      out.Put(*p++);
      continue;
    }
    Directive d;
    for (;; ++p) {
      if (*p == '-') {
        d.left = true;
      } else if (*p == '0') {
        d.zero = true;
      } else if (*p == '+') {
        d.plus = true;
      } else if (*p == ' ') {
        d.space = true;
      } else {
        break;
      }
    }
    if (d.left) d.zero = false;
    d.width = ReadNumber(p);
    if (*p == '.') {
      ++p;
      d.precision = static_cast<int>(ReadNumber(p));
    }
    WCHAR size = 0;
    if (*p == 'h' || *p == 'w' || *p == 'l') size = *p++;
    const WCHAR conversion = *p++;
    const bool h = size == 'h';
    if (size != 0 && !h && conversion != 'S' && conversion != 's') {
      return false;
    }
    switch (conversion) {
      case 'd':
      case 'i': {
        // Variadic shorts arrive promoted to int; %h cuts them back.
        int value = va_arg(args, int);
        if (h) value = static_cast<short>(value);
        const bool negative = value < 0;
        const uint32_t magnitude = negative ? 0u - static_cast<uint32_t>(value)
                                            : static_cast<uint32_t>(value);
        PutInteger(out, d, negative, magnitude, 10, false);
        break;
      }
      case 'u':
      case 'x':
      case 'X': {
        uint32_t value = static_cast<uint32_t>(va_arg(args, int));
        if (h) value &= 0xFFFFu;
        PutInteger(out, d, false, value, conversion == 'u' ? 10 : 16,
                   conversion == 'X');
        break;
      }
      case 'c': {
        // The code unit itself, not a conversion from any code page.
        const WCHAR c = static_cast<WCHAR>(va_arg(args, int) & 0xFFFF);
        const size_t pad = d.width > 1 ? d.width - 1 : 0;
        if (!d.left) out.Repeat(' ', pad);
        out.Put(c);
        if (d.left) out.Repeat(' ', pad);
        break;
      }
      case 'f':
        PutFixed(out, d, va_arg(args, double));
        break;
      case 'S':
      case 's':
        if (size != 'w' && size != 'l') return false;
        PutWide(out, d, va_arg(args, const WCHAR*));
        break;
      default:
        return false;
    }
  }
  return true;
}

HRESULT FormatWideBoundedV(WCHAR* dest, uint32_t sizeBytes, const WCHAR* format,
                           va_list args) {
  const uint32_t capacity = sizeBytes / 2;
  if (capacity == 0 || !dest || !format) return E_INVALIDARG;
  const uint32_t limit = capacity - 1;  // one place stays for the NUL
  BoundedWriter out(dest, limit);
  const bool known = FormatInto(out, format, args);
  if (!known || out.Cut()) {
    const uint64_t end = out.Count() < limit ? out.Count() : limit;
    dest[end] = 0;
    return HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER);
  }
  dest[out.Count()] = 0;
  return S_OK;
}

// Buffer sizes in bytes: room for every text the row can produce.
constexpr uint32_t kSmallBytes = 64;
// The longest "%10.4f" text of a double is 315 characters (sign, 309 digits,
// point, four decimals); 349 characters leave a margin.
constexpr uint32_t kRealBytes = 698;

WCHAR* Store(WCHAR** out, WCHAR* text) {
  *out = text;
  return text;
}

WCHAR* Allocate(size_t bytes) {
  return static_cast<WCHAR*>(std::malloc(bytes));
}

WCHAR* FixedText(WCHAR** out, const char* text) {
  WCHAR* buffer = Allocate(kSmallBytes);
  if (!buffer) return Store(out, nullptr);
  // Bounded like every other write into the buffer, though no fixed text
  // comes near the 31 characters it holds.
  const size_t capacity = kSmallBytes / sizeof(WCHAR);
  size_t i = 0;
  for (; i + 1 < capacity && text[i]; ++i) {
    buffer[i] = static_cast<WCHAR>(static_cast<unsigned char>(text[i]));
  }
  buffer[i] = 0;
  return Store(out, buffer);
}

template <typename... Args>
WCHAR* FormattedText(WCHAR** out, uint32_t bytes, const WCHAR* format,
                     Args... args) {
  WCHAR* buffer = Allocate(bytes);
  if (!buffer) return Store(out, nullptr);
  FormatWideBounded(buffer, bytes, format, args...);
  return Store(out, buffer);
}

}  // namespace

HRESULT FormatWideBounded(WCHAR* dest, uint32_t sizeBytes, const WCHAR* format,
                          ...) {
  va_list args;
  va_start(args, format);
  const HRESULT result = FormatWideBoundedV(dest, sizeBytes, format, args);
  va_end(args);
  return result;
}

WCHAR* FormatPropertyValue(const VARIANT& value, WCHAR** out) {
  // The whole type code is compared: a flag bit such as VT_BYREF makes a
  // different row, never the row of the base type.
  switch (value.vt) {
    case VT_NULL:
      return FixedText(out, "<null>");
    case VT_I2:
      // Printed as the unsigned 16-bit pattern, so -1 is 65535.
      return FormattedText(out, kSmallBytes, OLESTR("%hu (0x%hX)"),
                           static_cast<int>(value.iVal),
                           static_cast<int>(value.iVal));
    case VT_I4:
      return FormattedText(out, kSmallBytes, OLESTR("%d (0x%X)"),
                           static_cast<int>(value.lVal),
                           static_cast<int>(value.lVal));
    case VT_R4:
      return FormattedText(out, kRealBytes, OLESTR("%10.4f"),
                           static_cast<double>(value.fltVal));
    case VT_R8:
      return FormattedText(out, kRealBytes, OLESTR("%10.4f"), value.dblVal);
    case VT_BSTR: {
      // COM treats a null BSTR as the empty string. The length is counted to
      // the first NUL, not read from the BSTR's prefix, so the buffer fits
      // exactly the text that %wS writes.
      const WCHAR* text = value.bstrVal ? value.bstrVal : OLESTR("");
      size_t length = 0;
      while (text[length]) ++length;
      if (length > (UINT32_MAX - 6) / 2) return Store(out, nullptr);
      const uint32_t bytes = static_cast<uint32_t>(2 * length + 6);
      return FormattedText(out, bytes, OLESTR("\"%wS\""), text);
    }
    case VT_BOOL:
      return FixedText(out, value.boolVal ? "TRUE" : "FALSE");
    case VT_UI1:
      if (value.bVal < 32) {
        return FormattedText(out, kSmallBytes, OLESTR("%hu (0x%hX)"),
                             static_cast<int>(value.bVal),
                             static_cast<int>(value.bVal));
      }
      return FormattedText(out, kSmallBytes, OLESTR("'%c' (%hu, 0x%hX)"),
                           static_cast<int>(value.bVal),
                           static_cast<int>(value.bVal),
                           static_cast<int>(value.bVal));
    case VT_DISPATCH:
    case VT_ARRAY | VT_I2:
    case VT_ARRAY | VT_I4:
    case VT_ARRAY | VT_R4:
    case VT_ARRAY | VT_R8:
    case VT_ARRAY | VT_BSTR:
    case VT_ARRAY | VT_DISPATCH:
    case VT_ARRAY | VT_BOOL:
    case VT_ARRAY | VT_UI1:
      return Store(out, nullptr);
    default:
      return FixedText(out, "<conversion error>");
  }
}
