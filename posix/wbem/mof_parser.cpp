// The MOF reader's parser: recursive descent over the tokens of mof_lexer.h,
// building the classes and instances of a MofProvider as it goes, so that a
// reference to a class or a superclass is checked where it is written.
#include <cfloat>
#include <memory>
#include <unordered_map>
#include <utility>

#include "posix/wbem/mof.h"
#include "posix/wbem/mof_lexer.h"
#include "posix/wbem/mof_repository.h"
#include "posix/wbem/names.h"

namespace posix_wmi {
namespace {

// Deeper nesting of embedded instances is refused, so that a hostile file
// cannot exhaust the stack.
constexpr int kMaxDepth = 32;

std::string Narrow(const std::u16string& s) {
  std::string out;
  for (char16_t c : s) out += c < 0x80 ? static_cast<char>(c) : '?';
  return out;
}

// Qualifiers the reader acts on; the rest are read and dropped.
struct Qualifiers {
  std::optional<HRESULT> failNext;
  std::optional<HRESULT> failBeginEnumeration;
  int line = 0, col = 0;  // of the first of those two, for refusals
};

class Parser {
 public:
  Parser(std::string_view text, MofErrors& errors)
      : errors_(errors), lexer_(text, errors) {}

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

 private:
  // ---- errors and tokens

  bool FailAt(int line, int col, const std::string& message) {
    return errors_.FailAt(line, col, message);
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

  const Token& Peek() { return lexer_.Peek(); }
  Token Take() { return lexer_.Take(); }

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
    if (std::optional<CimType> t = CimTypeNamed(type.text)) {
      prop.type = *t;
      return true;
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

  MofErrors& errors_;
  MofLexer lexer_;
  MofProvider* provider_ = nullptr;
  std::unordered_map<const ClassDef*, std::vector<CimValue>> defaults_;
};

}  // namespace

bool ParseMof(std::string_view bytes, std::string_view fileName,
              MofRepository& out, std::string& error) {
  out = MofRepository{};
  error.clear();
  MofErrors errors(fileName);
  std::string storage;
  std::string_view text;
  if (DecodeMofText(bytes, storage, text, errors)) {
    Parser parser(text, errors);
    if (parser.ParseFile(out)) return true;
  }
  out = MofRepository{};
  error = errors.text();
  return false;
}

}  // namespace posix_wmi
