// MOF reader of the stand-in WMI service: a hand-written lexer and recursive
// descent parser over the subset described in mof.h, and the Provider that
// answers from what it read.
#include "posix/wbem/mof.h"

#include <cerrno>
#include <cfloat>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <map>
#include <unordered_map>
#include <utility>

#include "posix/wbem/names.h"
#include "posix/utf.h"
#include "posix/wbem/wbemcli.h"

namespace posix_wmi {
namespace {

// Deeper nesting of embedded instances is refused, so that a hostile file
// cannot exhaust the stack.
constexpr int kMaxDepth = 32;

std::string Lower(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = AsciiLower(c);
  return out;
}

class MofProvider : public Provider {
 public:
  const ClassDef* FindClass(std::string_view name) const override {
    auto it = byName_.find(Lower(name));
    return it == byName_.end() ? nullptr : it->second;
  }

  HRESULT Instances(
      const ClassDef& cls, const std::vector<size_t>&,
      std::vector<std::shared_ptr<const Instance>>& out) override {
    out.clear();
    for (const auto& inst : instances_)
      if (IsA(inst->cls, &cls)) out.push_back(inst);
    return S_OK;
  }

  const ClassDef* AddClass(std::unique_ptr<ClassDef> def) {
    classes_.push_back(std::move(def));
    const ClassDef* p = classes_.back().get();
    byName_[Lower(p->name)] = p;
    return p;
  }
  void AddInstance(std::shared_ptr<const Instance> inst) {
    instances_.push_back(std::move(inst));
  }

 private:
  // A class is what it derives from too, so a query for a superclass
  // returns its subclasses' instances, as WMI's does.
  bool IsA(const ClassDef* c, const ClassDef* target) const {
    for (int hops = 0; c && hops <= static_cast<int>(classes_.size()); ++hops) {
      if (c == target) return true;
      c = c->superclass.empty() ? nullptr : FindClass(c->superclass);
    }
    return false;
  }

  std::vector<std::unique_ptr<ClassDef>> classes_;
  std::map<std::string, const ClassDef*> byName_;
  std::vector<std::shared_ptr<const Instance>> instances_;
};

struct TypeName {
  const char* name;
  CimType type;
};
constexpr TypeName kTypeNames[] = {
    {"sint8", CimType::kSint8},       {"uint8", CimType::kUint8},
    {"sint16", CimType::kSint16},     {"uint16", CimType::kUint16},
    {"sint32", CimType::kSint32},     {"uint32", CimType::kUint32},
    {"sint64", CimType::kSint64},     {"uint64", CimType::kUint64},
    {"real32", CimType::kReal32},     {"real64", CimType::kReal64},
    {"boolean", CimType::kBoolean},   {"string", CimType::kString},
    {"datetime", CimType::kDatetime}, {"char16", CimType::kChar16},
    {"object", CimType::kObject},
};

const char* TypeText(CimType t) {
  if (t == CimType::kReference) return "reference";
  for (const TypeName& n : kTypeNames)
    if (n.type == t) return n.name;
  return "?";
}

// Integer bounds of each integer type, as magnitudes below and above zero.
bool IntegerBounds(CimType t, uint64_t* negMax, uint64_t* posMax) {
  switch (t) {
    case CimType::kSint8:
      *negMax = 128, *posMax = 127;
      return true;
    case CimType::kUint8:
      *negMax = 0, *posMax = 255;
      return true;
    case CimType::kSint16:
      *negMax = 32768, *posMax = 32767;
      return true;
    case CimType::kUint16:
    case CimType::kChar16:
      *negMax = 0, *posMax = 65535;
      return true;
    case CimType::kSint32:
      *negMax = 0x80000000u, *posMax = 0x7FFFFFFFu;
      return true;
    case CimType::kUint32:
      *negMax = 0, *posMax = 0xFFFFFFFFu;
      return true;
    case CimType::kSint64:
      *negMax = 0x8000000000000000u, *posMax = 0x7FFFFFFFFFFFFFFFu;
      return true;
    case CimType::kUint64:
      *negMax = 0, *posMax = UINT64_MAX;
      return true;
    default:
      return false;
  }
}

bool IsSigned(CimType t) {
  return t == CimType::kSint8 || t == CimType::kSint16 ||
         t == CimType::kSint32 || t == CimType::kSint64 ||
         t == CimType::kChar16;
}

// A CIM datetime: "yyyymmddHHMMSS.mmmmmmsUUU" (s is '+' or '-') or the
// interval "ddddddddHHMMSS.mmmmmm:000"; '*' stands for an unknown digit.
bool IsDatetime(const std::u16string& s) {
  if (s.size() != 25) return false;
  for (size_t i = 0; i < s.size(); ++i) {
    char16_t c = s[i];
    if (i == 14) {
      if (c != u'.') return false;
    } else if (i == 21) {
      if (c != u'+' && c != u'-' && c != u':') return false;
    } else if (!((c >= u'0' && c <= u'9') || c == u'*')) {
      return false;
    }
  }
  return true;
}

std::string Narrow(const std::u16string& s) {
  std::string out;
  for (char16_t c : s) out += c < 0x80 ? static_cast<char>(c) : '?';
  return out;
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

enum class Tok { kEnd, kError, kName, kInt, kReal, kString, kChar, kPunct };

struct Token {
  Tok kind = Tok::kEnd;
  int line = 1;
  int col = 1;
  std::string_view text;  // as written
  bool negative = false;  // kInt
  uint64_t magnitude = 0;
  double real = 0;     // kReal
  std::u16string str;  // kString, kChar (one unit)
};

bool IsDigit(char c) { return c >= '0' && c <= '9'; }
int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Qualifiers the reader acts on; the rest are read and dropped.
struct Qualifiers {
  std::optional<HRESULT> failNext;
  std::optional<HRESULT> failBeginEnumeration;
  int line = 0, col = 0;  // of the first of those two, for refusals
};

class Parser {
 public:
  Parser(std::string_view text, std::string_view fileName)
      : text_(text), fileName_(fileName) {}

  bool ParseFile(MofRepository& out) {
    auto provider = std::make_unique<MofProvider>();
    provider_ = provider.get();
    InjectedFailures failures;
    while (Peek().kind != Tok::kEnd) {
      if (Peek().kind == Tok::kError) return false;
      if (IsPunct('#')) {
        if (!ParsePragma(failures)) return false;
        continue;
      }
      Qualifiers q;
      if (!ParseQualifiers(q)) return false;
      if (IsKeyword("class")) {
        if (q.line)
          return FailAt(q.line, q.col,
                        "FailNext and FailBeginEnumeration belong on an "
                        "instance, not a class");
        if (!ParseClass()) return false;
      } else if (IsKeyword("instance")) {
        std::shared_ptr<const Instance> inst;
        if (!ParseInstance(q, 0, inst) || !ExpectPunct(';')) return false;
        provider_->AddInstance(std::move(inst));
      } else {
        return Expected("'class', 'instance' or '#pragma'");
      }
    }
    out.provider = std::move(provider);
    out.failures = failures;
    return true;
  }

  const std::string& error() const { return error_; }

 private:
  // ---- errors

  // Keeps the earliest refusal: looking one token ahead can find a fault
  // past the one the grammar is about to report.
  bool FailAt(int line, int col, const std::string& message) {
    if (error_.empty() || line < errorLine_ ||
        (line == errorLine_ && col < errorCol_)) {
      errorLine_ = line, errorCol_ = col;
      error_ = std::string(fileName_) + ":" + std::to_string(line) + ":" +
               std::to_string(col) + ": " + message;
    }
    return false;
  }
  bool Fail(const Token& at, const std::string& message) {
    return FailAt(at.line, at.col, message);
  }
  std::string Found(const Token& t) {
    switch (t.kind) {
      case Tok::kEnd:
        return "end of file";
      case Tok::kString:
        return "a string";
      default: {
        std::string s(t.text.substr(0, 32));
        return "'" + s + (t.text.size() > 32 ? "...'" : "'");
      }
    }
  }
  bool Expected(const std::string& what) {
    const Token& t = Peek();
    if (t.kind == Tok::kError) return false;
    return Fail(t, "expected " + what + ", found " + Found(t));
  }

  // ---- lexer

  void Advance() {
    char c = text_[pos_++];
    if (c == '\n') {
      ++line_, col_ = 1;
    } else if ((static_cast<unsigned char>(c) & 0xC0) != 0x80) {
      ++col_;
    }
  }
  bool At(size_t k, char c) const {
    return pos_ + k < text_.size() && text_[pos_ + k] == c;
  }

  // Skips blanks and comments; false after an unterminated comment.
  bool SkipSpace() {
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

  const Token& Peek() {
    if (!peeked_) {
      peeked_ = true;
      Lex(next_);
    }
    return next_;
  }
  Token Take() {
    Peek();
    peeked_ = false;
    return std::move(next_);
  }

  void Lex(Token& t) {
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
    } else if (IsDigit(text_[pos_]) ||
               (text_[pos_] == '-' && pos_ + 1 < text_.size() &&
                IsDigit(text_[pos_ + 1]))) {
      LexNumber(t);
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
      Fail(t, buf);
      t.kind = Tok::kError;
    }
    t.text = text_.substr(start, pos_ - start);
  }

  void LexNumber(Token& t) {
    size_t start = pos_;
    if (text_[pos_] == '-') {
      t.negative = true;
      Advance();
    }
    bool overflow = false;
    auto accumulate = [&](uint64_t base, int digit) {
      if (t.magnitude > (UINT64_MAX - digit) / base) overflow = true;
      t.magnitude = t.magnitude * base + digit;
    };
    t.kind = Tok::kInt;
    if (text_[pos_] == '0' && (At(1, 'x') || At(1, 'X'))) {
      Advance(), Advance();
      if (pos_ >= text_.size() || HexValue(text_[pos_]) < 0) {
        t.kind = Tok::kError;
        Fail(t, "expected hexadecimal digits after '0x'");
        return;
      }
      while (pos_ < text_.size() && HexValue(text_[pos_]) >= 0) {
        accumulate(16, HexValue(text_[pos_]));
        Advance();
      }
    } else {
      while (pos_ < text_.size() && IsDigit(text_[pos_])) {
        accumulate(10, text_[pos_] - '0');
        Advance();
      }
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
        overflow = false;
        const char* first = text_.data() + start;
        const char* last = text_.data() + pos_;
        auto [end, ec] = std::from_chars(first, last, t.real);
        if (ec != std::errc() || end != last) {
          t.kind = Tok::kError;
          Fail(t, "real number out of range");
          return;
        }
      }
    }
    if (pos_ < text_.size() &&
        (IsNameChar(text_[pos_]) || text_[pos_] == '.')) {
      t.kind = Tok::kError;
      Fail(t, "malformed number");
      return;
    }
    if (overflow) {
      t.kind = Tok::kError;
      Fail(t, "integer out of range");
    }
  }

  // One character of a string or char literal, escapes decoded, appended to
  // `out`. False (with the error set) on a bad escape or bad UTF-8.
  bool LexCharacter(std::u16string& out) {
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
        while (digits < 4 && pos_ < text_.size() &&
               HexValue(text_[pos_]) >= 0) {
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

  void LexString(Token& t) {
    Advance();
    t.kind = Tok::kString;
    while (pos_ < text_.size() && text_[pos_] != '"' && text_[pos_] != '\n') {
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

  void LexChar(Token& t) {
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

  // ---- token tests

  bool IsPunct(char c) {
    const Token& t = Peek();
    return t.kind == Tok::kPunct && t.text[0] == c;
  }
  bool IsKeyword(std::string_view word) {
    const Token& t = Peek();
    return t.kind == Tok::kName && SameName(t.text, word);
  }
  bool ExpectPunct(char c) {
    if (!IsPunct(c)) return Expected(std::string("'") + c + "'");
    Take();
    return true;
  }
  bool ExpectKeyword(const char* word) {
    if (!IsKeyword(word)) return Expected(std::string("'") + word + "'");
    Take();
    return true;
  }
  bool ExpectName(const char* what, Token& out) {
    if (Peek().kind != Tok::kName) return Expected(what);
    out = Take();
    return true;
  }

  // ---- grammar

  // A 32-bit status code: -2147483648 to 0xFFFFFFFF.
  bool ParseCode(HRESULT& code) {
    const Token& t = Peek();
    if (t.kind != Tok::kInt ||
        t.magnitude > (t.negative ? 0x80000000u : 0xFFFFFFFFu))
      return Expected("a 32-bit status code");
    uint32_t bits = static_cast<uint32_t>(t.magnitude);
    code = static_cast<HRESULT>(t.negative ? 0u - bits : bits);
    Take();
    return true;
  }

  bool ParsePragma(InjectedFailures& failures) {
    Take();  // '#'
    Token name;
    if (!ExpectKeyword("pragma") ||
        !ExpectName("pragma namespace or fail", name))
      return false;
    if (SameName(name.text, "namespace")) {
      if (!ExpectPunct('(')) return false;
      std::u16string path;
      Token at = Peek();
      if (!ParseStrings(path)) return false;
      if (!IsRootCimv2(Narrow(path)))
        return Fail(at, "expected the namespace \"root\\\\cimv2\"");
      return ExpectPunct(')');
    }
    if (!SameName(name.text, "fail"))
      return Fail(name, "expected pragma namespace or fail, found '" +
                            std::string(name.text) + "'");
    if (!ExpectPunct('(')) return false;
    Token at = Peek();
    std::u16string op;
    if (!ParseStrings(op)) return false;
    std::string opName = Narrow(op);
    std::optional<HRESULT>* slot = nullptr;
    if (SameName(opName, "OleInitialize"))
      slot = &failures.oleInitialize;
    else if (SameName(opName, "CoInitializeSecurity"))
      slot = &failures.coInitializeSecurity;
    else if (SameName(opName, "CoCreateInstance"))
      slot = &failures.coCreateInstance;
    else if (SameName(opName, "ConnectServer"))
      slot = &failures.connectServer;
    else if (SameName(opName, "ExecQuery"))
      slot = &failures.execQuery;
    if (!slot)
      return Fail(at,
                  "expected an operation: OleInitialize, CoInitializeSecurity,"
                  " CoCreateInstance, ConnectServer or ExecQuery");
    HRESULT code = 0;
    if (!ExpectPunct(',') || !ParseCode(code) || !ExpectPunct(')'))
      return false;
    *slot = code;
    return true;
  }

  // One string literal or several adjacent ones, joined.
  bool ParseStrings(std::u16string& out) {
    if (Peek().kind != Tok::kString) return Expected("a string");
    out = Take().str;
    while (Peek().kind == Tok::kString) out += Take().str;
    return true;
  }

  // A qualifier value is checked for form only; its meaning is dropped.
  bool SkipQualifierValue() {
    const Token& t = Peek();
    if (t.kind == Tok::kString) {
      std::u16string ignored;
      return ParseStrings(ignored);
    }
    if (t.kind == Tok::kInt || t.kind == Tok::kReal || t.kind == Tok::kChar ||
        IsKeyword("true") || IsKeyword("false") || IsKeyword("null")) {
      Take();
      return true;
    }
    return Expected("a qualifier value");
  }

  bool ParseQualifiers(Qualifiers& q) {
    if (!IsPunct('[')) return true;
    Take();
    for (;;) {
      Token name;
      if (!ExpectName("a qualifier name", name)) return false;
      bool failNext = SameName(name.text, "FailNext");
      bool failBegin = SameName(name.text, "FailBeginEnumeration");
      if (failNext || failBegin) {
        HRESULT code = 0;
        if (!ExpectPunct('(') || !ParseCode(code) || !ExpectPunct(')'))
          return false;
        (failNext ? q.failNext : q.failBeginEnumeration) = code;
        if (!q.line) q.line = name.line, q.col = name.col;
      } else if (IsPunct('(')) {
        Take();
        if (!SkipQualifierValue() || !ExpectPunct(')')) return false;
      } else if (IsPunct('{')) {
        Take();
        if (!IsPunct('}')) {
          for (;;) {
            if (!SkipQualifierValue()) return false;
            if (!IsPunct(',')) break;
            Take();
          }
        }
        if (!ExpectPunct('}')) return false;
      }
      if (IsPunct(':')) {
        Take();
        Token flavor;
        if (!ExpectName("a qualifier flavor", flavor)) return false;
        while (Peek().kind == Tok::kName) Take();
      }
      if (IsPunct(']')) break;
      if (!ExpectPunct(',')) return false;
    }
    Take();
    return true;
  }

  bool ParseClass() {
    Take();  // 'class'
    Token name;
    if (!ExpectName("a class name", name)) return false;
    if (provider_->FindClass(name.text))
      return Fail(name,
                  "class " + std::string(name.text) + " is already declared");
    auto def = std::make_unique<ClassDef>();
    def->name = name.text;
    std::vector<CimValue> defaults;
    if (IsPunct(':')) {
      Take();
      Token super;
      if (!ExpectName("a superclass name", super)) return false;
      const ClassDef* base = provider_->FindClass(super.text);
      if (!base)
        return Fail(super, "undeclared class " + std::string(super.text));
      def->superclass = base->name;
      def->properties = base->properties;
      defaults = defaults_[base];
    }
    if (!ExpectPunct('{')) return false;
    while (!IsPunct('}')) {
      Qualifiers q;
      if (!ParseQualifiers(q)) return false;
      if (q.line)
        return FailAt(q.line, q.col,
                      "FailNext and FailBeginEnumeration belong on an "
                      "instance, not a class");
      PropertyDef prop;
      if (!ParsePropertyType(def->name, prop)) return false;
      Token propName;
      if (!ExpectName("a property name", propName)) return false;
      for (const PropertyDef& p : def->properties)
        if (SameName(p.name, propName.text))
          return Fail(propName, "property " + std::string(propName.text) +
                                    " is already declared in class " +
                                    def->name);
      prop.name = propName.text;
      if (IsPunct('[')) {
        Take();
        if (!ExpectPunct(']')) return false;
        prop.isArray = true;
      }
      CimValue value;
      if (IsPunct('=')) {
        Take();
        if (!ParseValue(prop, value, 0)) return false;
      }
      if (!ExpectPunct(';')) return false;
      def->properties.push_back(std::move(prop));
      defaults.push_back(std::move(value));
    }
    Take();  // '}'
    if (!ExpectPunct(';')) return false;
    defaults_[provider_->AddClass(std::move(def))] = std::move(defaults);
    return true;
  }

  // "type" or "ClassName ref". `self` is the class being declared, which a
  // reference may name.
  bool ParsePropertyType(const std::string& self, PropertyDef& prop) {
    Token type;
    if (!ExpectName("a property type", type)) return false;
    for (const TypeName& n : kTypeNames) {
      if (SameName(type.text, n.name)) {
        prop.type = n.type;
        return true;
      }
    }
    if (!IsKeyword("ref"))
      return Fail(type,
                  "expected a property type (sint8 .. uint64, real32, "
                  "real64, boolean, string, datetime, char16, object "
                  "or 'ClassName ref'), found '" +
                      std::string(type.text) + "'");
    Take();
    prop.type = CimType::kReference;
    if (SameName(type.text, self)) {
      prop.refClass = self;
    } else if (const ClassDef* c = provider_->FindClass(type.text)) {
      prop.refClass = c->name;
    } else {
      return Fail(type, "undeclared class " + std::string(type.text));
    }
    return true;
  }

  // "instance of Class { ... }" without the ';' after it.
  bool ParseInstance(const Qualifiers& q, int depth,
                     std::shared_ptr<const Instance>& out) {
    Token start = Take();  // 'instance'
    if (depth > kMaxDepth)
      return Fail(start, "embedded instances nested more than " +
                             std::to_string(kMaxDepth) + " deep");
    Token name;
    if (!ExpectKeyword("of") || !ExpectName("a class name", name)) return false;
    const ClassDef* cls = provider_->FindClass(name.text);
    if (!cls) return Fail(name, "undeclared class " + std::string(name.text));
    auto inst = std::make_shared<Instance>();
    inst->cls = cls;
    inst->values = defaults_[cls];
    inst->failNext = q.failNext;
    inst->failBeginEnumeration = q.failBeginEnumeration;
    std::vector<bool> set(cls->properties.size());
    if (!ExpectPunct('{')) return false;
    while (!IsPunct('}')) {
      Qualifiers pq;
      if (!ParseQualifiers(pq)) return false;
      if (pq.failBeginEnumeration)
        return FailAt(pq.line, pq.col,
                      "FailBeginEnumeration belongs on an instance, not a "
                      "property");
      Token propName;
      if (!ExpectName("a property name", propName)) return false;
      size_t i = 0;
      while (i < cls->properties.size() &&
             !SameName(cls->properties[i].name, propName.text))
        ++i;
      if (i == cls->properties.size())
        return Fail(propName, "class " + cls->name + " has no property " +
                                  std::string(propName.text));
      if (set[i])
        return Fail(propName,
                    "property " + cls->properties[i].name + " is already set");
      set[i] = true;
      if (!ExpectPunct('=') ||
          !ParseValue(cls->properties[i], inst->values[i], depth) ||
          !ExpectPunct(';'))
        return false;
      if (pq.failNext) {
        inst->failPropertyNext.resize(cls->properties.size());
        inst->failPropertyNext[i] = pq.failNext;
      }
    }
    Take();  // '}'
    out = std::move(inst);
    return true;
  }

  bool ParseValue(const PropertyDef& prop, CimValue& out, int depth) {
    out = CimValue{};
    if (IsKeyword("null")) {
      Take();
      return true;
    }
    out.isNull = false;
    if (!prop.isArray) {
      out.items.emplace_back();
      return ParseScalar(prop, out.items.back(), depth);
    }
    if (!IsPunct('{'))
      return Expected(std::string("'{' for the array property ") + prop.name);
    Take();
    if (!IsPunct('}')) {
      for (;;) {
        out.items.emplace_back();
        if (!ParseScalar(prop, out.items.back(), depth)) return false;
        if (!IsPunct(',')) break;
        Take();
      }
    }
    return ExpectPunct('}');
  }

  bool ParseScalar(const PropertyDef& prop, CimScalar& out, int depth) {
    std::string of =
        std::string(" for ") + TypeText(prop.type) + " property " + prop.name;
    const Token& t = Peek();
    if (t.kind == Tok::kError) return false;
    uint64_t negMax, posMax;
    if (IntegerBounds(prop.type, &negMax, &posMax)) {
      if (prop.type == CimType::kChar16 && t.kind == Tok::kChar) {
        out = static_cast<int64_t>(t.str[0]);
        Take();
        return true;
      }
      if (t.kind != Tok::kInt)
        return Expected(prop.type == CimType::kChar16
                            ? "a character or an integer" + of
                            : "an integer" + of);
      if (t.magnitude > (t.negative ? negMax : posMax))
        return Fail(t, "value out of range" + of);
      if (IsSigned(prop.type))
        out = t.negative ? static_cast<int64_t>(0 - t.magnitude)
                         : static_cast<int64_t>(t.magnitude);
      else
        out = t.magnitude;
      Take();
      return true;
    }
    switch (prop.type) {
      case CimType::kReal32:
      case CimType::kReal64: {
        double v;
        if (t.kind == Tok::kReal)
          v = t.real;
        else if (t.kind == Tok::kInt)
          v = t.negative ? -static_cast<double>(t.magnitude)
                         : static_cast<double>(t.magnitude);
        else
          return Expected("a number" + of);
        if (prop.type == CimType::kReal32 && (v > FLT_MAX || v < -FLT_MAX))
          return Fail(t, "value out of range" + of);
        out = v;
        Take();
        return true;
      }
      case CimType::kBoolean:
        if (!IsKeyword("true") && !IsKeyword("false"))
          return Expected("TRUE or FALSE" + of);
        out = IsKeyword("true");
        Take();
        return true;
      case CimType::kString:
      case CimType::kDatetime:
      case CimType::kReference: {
        Token at = t;
        std::u16string s;
        if (t.kind != Tok::kString || !ParseStrings(s))
          return Expected("a string" + of);
        if (prop.type == CimType::kDatetime && !IsDatetime(s))
          return Fail(at,
                      "expected a datetime \"yyyymmddHHMMSS.mmmmmmsUUU\"" + of);
        out = std::move(s);
        return true;
      }
      case CimType::kObject: {
        if (!IsKeyword("instance")) return Expected("'instance of'" + of);
        std::shared_ptr<const Instance> inst;
        if (!ParseInstance(Qualifiers{}, depth + 1, inst)) return false;
        out = std::move(inst);
        return true;
      }
      default:
        return Fail(t, "unsupported type" + of);
    }
  }

  std::string_view text_;
  std::string_view fileName_;
  size_t pos_ = 0;
  int line_ = 1;
  int col_ = 1;
  bool peeked_ = false;
  Token next_;
  std::string error_;
  int errorLine_ = 0;
  int errorCol_ = 0;
  MofProvider* provider_ = nullptr;
  std::unordered_map<const ClassDef*, std::vector<CimValue>> defaults_;
};

}  // namespace

bool ParseMof(std::string_view bytes, std::string_view fileName,
              MofRepository& out, std::string& error) {
  out = MofRepository{};
  error.clear();
  std::string converted;
  std::string_view text = bytes;
  auto starts = [&](const char* bom, size_t n) {
    return bytes.size() >= n && std::memcmp(bytes.data(), bom, n) == 0;
  };
  if (starts("\xEF\xBB\xBF", 3)) {
    text.remove_prefix(3);
  } else if (starts("\xFF\xFE", 2) || starts("\xFE\xFF", 2)) {
    bool bigEndian = bytes[0] == '\xFE';
    int line, col;
    std::string_view units = bytes.substr(2);
    if (!DecodeUtf16File(units, bigEndian, &converted, &line, &col)) {
      error = std::string(fileName) + ":" + std::to_string(line) + ":" +
              std::to_string(col) + ": unpaired UTF-16 surrogate";
      return false;
    }
    if (units.size() % 2) {
      error = std::string(fileName) + ":" + std::to_string(line) + ":" +
              std::to_string(col) + ": UTF-16 text ends in half a code unit";
      return false;
    }
    text = converted;
  }
  Parser parser(text, fileName);
  if (!parser.ParseFile(out)) {
    out = MofRepository{};
    error = parser.error();
    return false;
  }
  return true;
}

HRESULT LoadMofFile(const std::string& path, MofRepository& out,
                    std::string& error) {
  out = MofRepository{};
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) {
    error = path + ": " + std::strerror(errno);
    return WBEM_E_INVALID_NAMESPACE;
  }
  std::string bytes;
  char buf[65536];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) bytes.append(buf, n);
  int readError = std::ferror(f) ? errno : 0;
  std::fclose(f);
  if (readError) {
    error = path + ": " + std::strerror(readError);
    return WBEM_E_INVALID_NAMESPACE;
  }
  return ParseMof(bytes, path, out, error) ? S_OK : WBEM_E_INVALID_SYNTAX;
}

}  // namespace posix_wmi
