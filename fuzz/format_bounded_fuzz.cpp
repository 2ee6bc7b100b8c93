// Fuzzes FormatWideBounded with any buffer size and arguments and with
// formats built from the directives it takes, so that every argument passed
// has the type its directive reads. The destination is exactly `size` bytes,
// so a write past it is caught by ASan. The expected text comes from the C
// library's printf for numbers and is built by hand for characters and
// strings.
//
// Input: the size in bytes (2 bytes), then pieces, each one opcode byte:
//   0 literal: a count n, then n UTF-16 code units ('%' is written "%%")
//   1 integer: flags, width, precision, conversion byte, then the int (4)
//   2 double:  flags, width, precision, then the double (8)
//   3 string:  flags, width, conversion byte, a length n (255: null pointer),
//              then n code units
//   4 a directive the formatter does not take; it ends the format
// Flags byte: bit 0 '-', 1 '0', 2 '+', 3 ' ', bit 4 multiplies the width by
// 64. Precision 255 means none. Up to four directives take arguments; the
// input ends at the fifth.
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "fuzz/reader.h"
#include "wmi/format.h"

namespace {

using WString = std::basic_string<WCHAR>;
constexpr size_t kMaxArguments = 4;
const HRESULT kCut = HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER);

enum class Kind { kInt, kDouble, kString };

struct Argument {
  Kind kind;
  int i = 0;
  double d = 0;
  const WCHAR* s = nullptr;
};

struct Plan {
  WString format;
  WString expected;
  bool stopped = false;  // ends in a directive the formatter does not take
  std::vector<Argument> arguments;
  std::vector<WString> strings;  // storage for string arguments
};

WString Widen(const std::string& text) {
  WString wide;
  for (char c : text) wide += static_cast<WCHAR>(static_cast<unsigned char>(c));
  return wide;
}

struct Shape {
  bool left, zero, plus, space;
  size_t width;
  int precision;  // -1: none
};

Shape ReadShape(ByteReader& in, bool withPrecision, int maxPrecision) {
  const uint8_t flags = in.Byte();
  Shape shape{(flags & 1) != 0, (flags & 2) != 0, (flags & 4) != 0,
              (flags & 8) != 0, in.Byte(),        -1};
  if (flags & 16) shape.width *= 64;
  if (withPrecision) {
    const uint8_t precision = in.Byte();
    if (precision != 255) shape.precision = precision % (maxPrecision + 1);
  }
  return shape;
}

// The directive as narrow text, without the length modifier and conversion.
std::string Head(const Shape& shape) {
  std::string head = "%";
  if (shape.left) head += '-';
  if (shape.zero) head += '0';
  if (shape.plus) head += '+';
  if (shape.space) head += ' ';
  if (shape.width) head += std::to_string(shape.width);
  if (shape.precision >= 0) head += "." + std::to_string(shape.precision);
  return head;
}

std::string Printf(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::vector<char> buffer(65536);
  const int n = std::vsnprintf(buffer.data(), buffer.size(), format, args);
  va_end(args);
  FUZZ_CHECK(n >= 0 && static_cast<size_t>(n) < buffer.size());
  return std::string(buffer.data(), static_cast<size_t>(n));
}

WString Padded(const Shape& shape, const WString& text) {
  const WString pad(shape.width > text.size() ? shape.width - text.size() : 0,
                    ' ');
  return shape.left ? text + pad : pad + text;
}

void AddInteger(ByteReader& in, Plan& plan) {
  const Shape shape = ReadShape(in, true, 254);
  const uint8_t pick = in.Byte();
  static const char kConversions[] = "diuxXc";
  const char conversion = kConversions[pick % 6];
  const bool shortSize = (pick & 8) != 0 && conversion != 'c';
  Argument argument{Kind::kInt};
  argument.i = static_cast<int>(in.Bytes(4));
  std::string head = Head(shape);
  if (conversion == 'c') {
    // The code unit itself, padded with blanks; precision, zeros and signs
    // do not apply.
    plan.expected +=
        Padded(shape, WString(1, static_cast<WCHAR>(argument.i & 0xFFFF)));
  } else {
    std::string directive = head + (shortSize ? "h" : "") + conversion;
    plan.expected += Widen(Printf(directive.c_str(), argument.i));
    head += shortSize ? "h" : "";
  }
  plan.format += Widen(head) + static_cast<WCHAR>(conversion);
  plan.arguments.push_back(argument);
}

void AddDouble(ByteReader& in, Plan& plan) {
  // The formatter holds precision to 100 places; printf does not.
  const Shape shape = ReadShape(in, true, 100);
  Argument argument{Kind::kDouble};
  const uint64_t bits = in.Bytes(8);
  std::memcpy(&argument.d, &bits, sizeof(argument.d));
  const std::string directive = Head(shape) + "f";
  plan.expected += Widen(Printf(directive.c_str(), argument.d));
  plan.format += Widen(directive);
  plan.arguments.push_back(argument);
}

void AddString(ByteReader& in, Plan& plan) {
  // Padded with blanks; zeros and signs do not apply.
  const Shape shape = ReadShape(in, false, 0);
  const uint8_t pick = in.Byte();
  const uint8_t length = in.Byte();
  Argument argument{Kind::kString};
  WString text;
  if (length != 255) {
    for (size_t i = 0; i < length; ++i) text += static_cast<WCHAR>(in.Bytes(2));
  }
  plan.strings.push_back(text);
  if (length != 255) argument.s = plan.strings.back().c_str();
  static const char* const kConversions[] = {"wS", "ws", "lS", "ls"};
  plan.format += Widen(Head(shape) + kConversions[pick % 4]);
  const WString shown =
      argument.s ? WString(argument.s) : Widen("(null)");  // up to a NUL
  plan.expected += Padded(shape, shown);
  plan.arguments.push_back(argument);
}

void AddLiteral(ByteReader& in, Plan& plan) {
  const uint8_t count = in.Byte();
  for (size_t i = 0; i < count; ++i) {
    WCHAR c = static_cast<WCHAR>(in.Bytes(2));
    if (c == 0) c = 'z';  // a NUL would end the format
    if (c == '%') plan.format += '%';
    plan.format += c;
    plan.expected += c;
  }
}

void AddUnknown(ByteReader& in, Plan& plan) {
  // Each stops the formatter before it reads an argument.
  static const char* const kUnknown[] = {"%",   "%q",   "%#x", "%*d", "%lld",
                                         "%hS", "%hs",  "%S",  "%s",  "%wd",
                                         "%ld", "%5.2", "%-",  "%n",  "%p"};
  plan.format += Widen(kUnknown[in.Byte() % 15]);
  plan.stopped = true;
}

Plan ReadPlan(ByteReader& in) {
  Plan plan;
  plan.strings.reserve(kMaxArguments);  // keeps the c_str() pointers valid
  while (in.Left() > 0 && !plan.stopped) {
    const uint8_t op = in.Byte() % 5;
    if (op >= 1 && op <= 3 && plan.arguments.size() == kMaxArguments) break;
    switch (op) {
      case 0:
        AddLiteral(in, plan);
        break;
      case 1:
        AddInteger(in, plan);
        break;
      case 2:
        AddDouble(in, plan);
        break;
      case 3:
        AddString(in, plan);
        break;
      default:
        AddUnknown(in, plan);
        break;
    }
  }
  return plan;
}

// Prints wide text for a failure report, non-ASCII as \uXXXX.
void Show(const char* label, const WString& text) {
  std::fprintf(stderr, "%s: \"", label);
  for (WCHAR c : text) {
    if (c >= 32 && c < 127) {
      std::fputc(c, stderr);
    } else {
      std::fprintf(stderr, "\\u%04X", static_cast<unsigned>(c));
    }
  }
  std::fprintf(stderr, "\"\n");
}

// Calls the formatter with the plan's arguments, each with its own type.
template <typename... Args>
HRESULT Call(const Plan& plan, WCHAR* dest, uint32_t size, Args... args) {
  constexpr size_t done = sizeof...(Args);
  if (done == plan.arguments.size()) {
    return FormatWideBounded(dest, size, plan.format.c_str(), args...);
  }
  if constexpr (done < kMaxArguments) {
    const Argument& a = plan.arguments[done];
    switch (a.kind) {
      case Kind::kInt:
        return Call(plan, dest, size, args..., a.i);
      case Kind::kDouble:
        return Call(plan, dest, size, args..., a.d);
      case Kind::kString:
        return Call(plan, dest, size, args..., a.s);
    }
  }
  std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  ByteReader in(data, size);
  const uint32_t bytes = static_cast<uint32_t>(in.Bytes(2));
  const Plan plan = ReadPlan(in);

  // Exactly `bytes` bytes, filled with a marker to see what was written.
  std::unique_ptr<uint8_t[]> buffer(new uint8_t[bytes]);
  std::memset(buffer.get(), 0xA5, bytes);
  WCHAR* dest = reinterpret_cast<WCHAR*>(buffer.get());
  const HRESULT result = Call(plan, dest, bytes);

  if (bytes < 2) {
    FUZZ_CHECK(result == E_INVALIDARG);
    for (uint32_t i = 0; i < bytes; ++i) FUZZ_CHECK(buffer[i] == 0xA5);
    return 0;
  }
  const size_t limit = bytes / 2 - 1;
  const bool cut = plan.stopped || plan.expected.size() > limit;
  FUZZ_CHECK(result == (cut ? kCut : S_OK));
  const size_t kept =
      plan.expected.size() < limit ? plan.expected.size() : limit;
  if (std::memcmp(dest, plan.expected.data(), kept * sizeof(WCHAR)) != 0) {
    Show("format", plan.format);
    Show("expected", plan.expected.substr(0, kept));
    Show("got", WString(dest, kept));
    std::abort();
  }
  FUZZ_CHECK(dest[kept] == 0);
  // An odd last byte is never used.
  if (bytes % 2) FUZZ_CHECK(buffer[bytes - 1] == 0xA5);
  return 0;
}
