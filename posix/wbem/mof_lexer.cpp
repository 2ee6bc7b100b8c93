// The MOF reader's lexer: a hand-written scanner over UTF-8 text. Columns
// count characters, not bytes, so that an error points where an editor does.
// Numbers are read the way the WMI MOF compiler reads them: a leading 0 makes
// an octal number and a trailing B a binary one, so "017" is 15.
#include "posix/wbem/mof_lexer.h"

#include <charconv>
#include <cstdio>
#include <cstring>

#include "posix/wbem/names.h"
#include "text/utf.h"

namespace posix_wmi {
namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }
int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// UTF-16 text (after its BOM) as UTF-8. On a broken surrogate pair, sets the
// line and column of the offending unit and returns false.
bool DecodeUtf16File(std::string_view bytes, bool bigEndian, std::string* out,
                     int* line, int* col) {
  *line = 1, *col = 1;
  auto unit = [&](size_t k) -> char16_t {
    unsigned char a = static_cast<unsigned char>(bytes[2 * k]);
    unsigned char b = static_cast<unsigned char>(bytes[2 * k + 1]);
    return static_cast<char16_t>(bigEndian ? (a << 8) | b : (b << 8) | a);
  };
  size_t n = bytes.size() / 2;
  for (size_t k = 0; k < n; ++k) {
    char32_t cp = unit(k);
    if (cp >= 0xD800 && cp <= 0xDBFF && k + 1 < n && unit(k + 1) >= 0xDC00 &&
        unit(k + 1) <= 0xDFFF) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (unit(k + 1) - 0xDC00);
      ++k;
    } else if (cp >= 0xD800 && cp <= 0xDFFF) {
      return false;
    }
    AppendUtf8(*out, cp);
    if (cp == u'\n') {
      ++*line, *col = 1;
    } else {
      ++*col;
    }
  }
  return true;
}

// Windows-1252 at 0x80..0x9F; the five bytes it leaves undefined map to the
// C1 controls of the same value, as Windows' own conversion does. Every other
// byte is its Latin-1 code point.
constexpr char16_t kCp1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

bool IsUtf8(std::string_view bytes) {
  for (size_t i = 0; i < bytes.size();) {
    if (static_cast<unsigned char>(bytes[i]) < 0x80) {
      ++i;
      continue;
    }
    char32_t cp;
    if (!DecodeUtf8(bytes, &i, &cp)) return false;
  }
  return true;
}

void DecodeCp1252(std::string_view bytes, std::string* out) {
  out->reserve(bytes.size() + bytes.size() / 8);
  for (char c : bytes) {
    unsigned char b = static_cast<unsigned char>(c);
    AppendUtf8(*out, b >= 0x80 && b < 0xA0 ? kCp1252High[b - 0x80] : b);
  }
}

}  // namespace

bool MofErrors::FailAt(int line, int col, const std::string& message,
                       const std::string* plain) {
  if (text_.empty() || line < line_ || (line == line_ && col < col_)) {
    line_ = line, col_ = col;
    text_ = std::string(fileName_) + ":" + std::to_string(line) + ":" +
            std::to_string(col) + ": ";
    if (!guarded_)
      text_ += message;
    else
      text_ += plain ? *plain
                     : "expected a MOF declaration or pragma; the file is not "
                       "MOF text";
  }
  return false;
}

bool DecodeMofText(std::string_view bytes, std::string& storage,
                   std::string_view& text, MofErrors& errors) {
  text = bytes;
  auto starts = [&](const char* bom, size_t n) {
    return bytes.size() >= n && std::memcmp(bytes.data(), bom, n) == 0;
  };
  if (starts("\xEF\xBB\xBF", 3)) {
    text.remove_prefix(3);
  } else if (starts("\xFF\xFE", 2) || starts("\xFE\xFF", 2)) {
    bool bigEndian = bytes[0] == '\xFE';
    int line, col;
    std::string_view units = bytes.substr(2);
    static const std::string kUnpaired = "unpaired UTF-16 surrogate";
    static const std::string kHalf = "UTF-16 text ends in half a code unit";
    if (!DecodeUtf16File(units, bigEndian, &storage, &line, &col))
      return errors.FailAt(line, col, kUnpaired, &kUnpaired);
    if (units.size() % 2) return errors.FailAt(line, col, kHalf, &kHalf);
    text = storage;
  } else if (!IsUtf8(bytes)) {
    DecodeCp1252(bytes, &storage);
    text = storage;
  }
  return true;
}

void MofLexer::Advance() {
  char c = text_[pos_++];
  if (c == '\n') {
    ++line_, col_ = 1;
  } else if ((static_cast<unsigned char>(c) & 0xC0) != 0x80) {
    ++col_;
  }
}
bool MofLexer::At(size_t k, char c) const {
  return pos_ + k < text_.size() && text_[pos_ + k] == c;
}

// Skips blanks and comments; false after an unterminated comment.
bool MofLexer::SkipSpace() {
  while (pos_ < text_.size()) {
    char c = text_[pos_];
    if (IsSpace(c)) {
      Advance();
    } else if (c == '/' && At(1, '/')) {
      while (pos_ < text_.size() && text_[pos_] != '\n') Advance();
    } else if (c == '/' && At(1, '*')) {
      int line = line_, col = col_;
      Advance(), Advance();
      while (pos_ < text_.size() && !(text_[pos_] == '*' && At(1, '/')))
        Advance();
      if (pos_ >= text_.size())
        return FailAt(line, col, "unterminated comment: expected '*/'");
      Advance(), Advance();
    } else {
      break;
    }
  }
  return true;
}

const Token& MofLexer::Peek() {
  if (!peeked_) {
    peeked_ = true;
    Lex(next_);
  }
  return next_;
}
Token MofLexer::Take() {
  Peek();
  peeked_ = false;
  return std::move(next_);
}

void MofLexer::Lex(Token& t) {
  t = Token{};
  if (!SkipSpace()) {
    t.kind = Tok::kError;
    return;
  }
  t.line = line_, t.col = col_;
  size_t start = pos_;
  if (pos_ >= text_.size()) {
    t.kind = Tok::kEnd;
  } else if (IsNameStart(text_[pos_])) {
    while (pos_ < text_.size() && IsNameChar(text_[pos_])) Advance();
    t.kind = Tok::kName;
  } else if (StartsNumber()) {
    LexNumber(t);
  } else if (text_[pos_] == '$' && pos_ + 1 < text_.size() &&
             IsNameStart(text_[pos_ + 1])) {
    Advance();
    while (pos_ < text_.size() && IsNameChar(text_[pos_])) Advance();
    t.kind = Tok::kAlias;
  } else if (text_[pos_] == '"') {
    LexString(t);
  } else if (text_[pos_] == '\'') {
    LexChar(t);
  } else if (text_[pos_] != '\0' && std::strchr("{}[]();,=:#", text_[pos_])) {
    Advance();
    t.kind = Tok::kPunct;
  } else {
    unsigned char b = static_cast<unsigned char>(text_[pos_]);
    char buf[40];
    if (b >= 0x20 && b < 0x7F)
      std::snprintf(buf, sizeof buf, "unexpected character '%c'", b);
    else
      std::snprintf(buf, sizeof buf, "unexpected byte 0x%02X", b);
    errors_.FailAt(t.line, t.col, buf);
    t.kind = Tok::kError;
  }
  t.text = text_.substr(start, pos_ - start);
}

// A digit, or a sign or a '.' before one: "7", "-7", "+.5", ".5".
bool MofLexer::StartsNumber() const {
  auto digitAt = [&](size_t k) {
    return pos_ + k < text_.size() && IsDigit(text_[pos_ + k]);
  };
  size_t k = 0;
  if (At(0, '-') || At(0, '+')) k = 1;
  return digitAt(k) || (At(k, '.') && digitAt(k + 1));
}

void MofLexer::LexNumber(Token& t) {
  if (text_[pos_] == '-' || text_[pos_] == '+') {
    t.negative = text_[pos_] == '-';
    Advance();
  }
  size_t digitsStart = pos_;
  bool overflow = false;
  auto accumulate = [&](uint64_t base, int digit) {
    if (t.magnitude > (UINT64_MAX - digit) / base) overflow = true;
    t.magnitude = t.magnitude * base + digit;
  };
  auto fail = [&](const char* message) {
    t.kind = Tok::kError;
    Fail(t, message);
  };
  t.kind = Tok::kInt;
  if (text_[pos_] == '0' && (At(1, 'x') || At(1, 'X'))) {
    Advance(), Advance();
    if (pos_ >= text_.size() || HexValue(text_[pos_]) < 0)
      return fail("expected hexadecimal digits after '0x'");
    while (pos_ < text_.size() && HexValue(text_[pos_]) >= 0) {
      accumulate(16, HexValue(text_[pos_]));
      Advance();
    }
  } else {
    while (pos_ < text_.size() && IsDigit(text_[pos_])) Advance();
    std::string_view digits = text_.substr(digitsStart, pos_ - digitsStart);
    bool real = false;
    if (At(0, '.') && pos_ + 1 < text_.size() && IsDigit(text_[pos_ + 1])) {
      real = true;
      Advance();
      while (pos_ < text_.size() && IsDigit(text_[pos_])) Advance();
    }
    if ((At(0, 'e') || At(0, 'E')) &&
        ((pos_ + 1 < text_.size() && IsDigit(text_[pos_ + 1])) ||
         ((At(1, '+') || At(1, '-')) && pos_ + 2 < text_.size() &&
          IsDigit(text_[pos_ + 2])))) {
      real = true;
      Advance();
      if (At(0, '+') || At(0, '-')) Advance();
      while (pos_ < text_.size() && IsDigit(text_[pos_])) Advance();
    }
    if (real) {
      t.kind = Tok::kReal;
      // from_chars takes neither a '+' nor a bare ".5"; give it "0.5".
      std::string_view written = text_.substr(digitsStart, pos_ - digitsStart);
      std::string number(written[0] == '.' ? "0" : "");
      number += written;
      auto [end, ec] =
          std::from_chars(number.data(), number.data() + number.size(), t.real);
      if (ec != std::errc() || end != number.data() + number.size())
        return fail("real number out of range");
      if (t.negative) t.real = -t.real;
    } else if (At(0, 'b') || At(0, 'B')) {
      if (digits.find_first_not_of("01") != std::string_view::npos)
        return fail("malformed number: a binary number has only 0 and 1");
      Advance();
      for (char c : digits) accumulate(2, c - '0');
    } else if (digits.size() > 1 && digits[0] == '0') {
      if (digits.find_first_of("89") != std::string_view::npos)
        return fail("malformed number: a leading 0 makes an octal number");
      for (char c : digits) accumulate(8, c - '0');
    } else {
      for (char c : digits) accumulate(10, c - '0');
    }
  }
  if (pos_ < text_.size() && (IsNameChar(text_[pos_]) || text_[pos_] == '.'))
    return fail("malformed number");
  if (overflow) fail("integer out of range");
}

// One character of a string or char literal, escapes decoded, appended to
// `out`. False (with the error set) on a bad escape or bad UTF-8.
bool MofLexer::LexCharacter(std::u16string& out) {
  int line = line_, col = col_;
  if (text_[pos_] != '\\') {
    char32_t cp;
    size_t i = pos_;
    if (!DecodeUtf8(text_, &i, &cp))
      return FailAt(line, col, "invalid UTF-8 in a string");
    while (pos_ < i) Advance();
    AppendUtf16(out, cp);
    return true;
  }
  Advance();
  if (pos_ >= text_.size()) return FailAt(line, col, "unterminated escape");
  char e = text_[pos_];
  Advance();
  switch (e) {
    case '\\':
    case '"':
    case '\'':
      out += static_cast<char16_t>(e);
      return true;
    case 'n':
      out += u'\n';
      return true;
    case 't':
      out += u'\t';
      return true;
    case 'r':
      out += u'\r';
      return true;
    case 'b':
      out += u'\b';
      return true;
    case 'f':
      out += u'\f';
      return true;
    case 'x':
    case 'X': {
      char16_t v = 0;
      int digits = 0;
      while (digits < 4 && pos_ < text_.size() && HexValue(text_[pos_]) >= 0) {
        v = static_cast<char16_t>(v * 16 + HexValue(text_[pos_]));
        Advance();
        ++digits;
      }
      if (digits == 0)
        return FailAt(line, col, "expected hexadecimal digits after '\\x'");
      out += v;
      return true;
    }
    default:
      return FailAt(line, col,
                    "unknown escape: expected one of \\\\ \\\" \\' \\n \\t "
                    "\\r \\b \\f \\xHHHH");
  }
}

void MofLexer::LexString(Token& t) {
  Advance();
  t.kind = Tok::kString;
  while (pos_ < text_.size() && text_[pos_] != '"' && text_[pos_] != '\n') {
    // Plain ASCII goes over in one piece: schemas are mostly long texts.
    size_t run = pos_;
    while (run < text_.size()) {
      unsigned char c = static_cast<unsigned char>(text_[run]);
      if (c >= 0x80 || c == '"' || c == '\\' || c == '\n') break;
      ++run;
    }
    if (run > pos_) {
      t.str.insert(t.str.end(), text_.begin() + pos_, text_.begin() + run);
      col_ += static_cast<int>(run - pos_);
      pos_ = run;
      continue;
    }
    if (!LexCharacter(t.str)) {
      t.kind = Tok::kError;
      return;
    }
  }
  if (pos_ >= text_.size() || text_[pos_] != '"') {
    t.kind = Tok::kError;
    Fail(t, "unterminated string: expected '\"'");
    return;
  }
  Advance();
}

void MofLexer::LexChar(Token& t) {
  Advance();
  t.kind = Tok::kChar;
  if (pos_ >= text_.size() || text_[pos_] == '\'' || text_[pos_] == '\n' ||
      !LexCharacter(t.str)) {
    Fail(t, "expected one character between single quotes");
    t.kind = Tok::kError;
    return;
  }
  if (t.str.size() != 1) {
    Fail(t, "a char16 holds one UTF-16 code unit");
    t.kind = Tok::kError;
    return;
  }
  if (pos_ >= text_.size() || text_[pos_] != '\'') {
    Fail(t, "unterminated character: expected \"'\"");
    t.kind = Tok::kError;
    return;
  }
  Advance();
}

}  // namespace posix_wmi
