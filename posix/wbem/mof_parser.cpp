// The MOF reader's parser: the statements of a file, qualifier lists and
// declarations, and classes with their properties and methods. A class
// declared again is an update, as the WMI compiler makes it.
#include "posix/wbem/mof_parser.h"

#include <unordered_set>
#include <utility>

#include "posix/wbem/names.h"

namespace posix_wmi {

Parser::Parser() = default;
Parser::~Parser() = default;

bool Parser::ReadFile(std::string_view bytes, const std::string& fileName,
                      const FileId* id) {
  createOnly_ = updateOnly_ = false;
  aliases_.clear();
  pending_.clear();
  pendingOf_.clear();
  provider_ = NamespaceAt("root\\cimv2");
  namespace_ = "root\\cimv2";
  if (ReadSource(bytes, fileName, id) && ResolveAliases()) return true;
  if (error_.empty()) error_ = fileName + ": not read";
  return false;
}

void Parser::Finish(MofRepository& out) {
  out = MofRepository{};
  for (auto& [key, provider] : namespaces_) {
    provider->Complete();
    if (key == "root\\cimv2")
      out.provider = std::move(provider);
    else
      out.namespaces[key] = std::move(provider);
  }
  out.failures = failures_;
}

bool Parser::ReadSource(std::string_view bytes, const std::string& fileName,
                        const FileId* id) {
  Source source(fileName);
  Source* outer = src_;
  src_ = &source;
  source.errors.Guard(id != nullptr);
  if (id) reading_.push_back(*id);
  bytesRead_ += bytes.size();
  std::string_view text;
  bool ok = DecodeMofText(bytes, source.storage, text, source.errors);
  if (ok) {
    source.lexer.emplace(text, source.errors);
    ok = ParseStatements();
  }
  if (!ok && error_.empty()) error_ = source.errors.text();
  if (id) reading_.pop_back();
  src_ = outer;
  return ok;
}

bool Parser::ParseStatements() {
  while (Peek().kind != Tok::kEnd) {
    if (Peek().kind == Tok::kError) return false;
    if (IsPunct('#')) {
      if (!ParsePragma()) return false;
      src_->errors.Guard(false);
      continue;
    }
    Qualifiers q;
    Token first = Peek();
    if (!ParseQualifiers(q)) return false;
    if (IsKeyword("instance")) {
      std::shared_ptr<Instance> inst;
      if (!ParseInstance(q, 0, inst) || !ExpectPunct(';')) return false;
      src_->errors.Guard(false);
      continue;
    }
    if (q.line)
      return FailAt(q.line, q.col,
                    "FailNext and FailBeginEnumeration belong on an instance, "
                    "not a class");
    if (IsKeyword("class")) {
      if (!ParseClass()) return false;
    } else if (IsKeyword("qualifier")) {
      if (first.kind == Tok::kPunct)
        return Fail(first, "a qualifier declaration takes no qualifiers");
      if (!ParseQualifierDeclaration()) return false;
      src_->errors.Guard(false);
    } else {
      return Expected("'class', 'instance', 'qualifier' or '#pragma'");
    }
  }
  return true;
}

// ---- errors and tokens

bool Parser::FailAt(int line, int col, const std::string& message) {
  return src_->errors.FailAt(line, col, message);
}
bool Parser::Fail(const Token& at, const std::string& message) {
  return FailAt(at.line, at.col, message);
}
bool Parser::FailPlain(const Token& at, const std::string& message) {
  return src_->errors.FailAt(at.line, at.col, message, &message);
}
std::string Parser::Where(const Token& at) const {
  return src_->fileName + ":" + std::to_string(at.line) + ":" +
         std::to_string(at.col);
}
std::string Parser::Found(const Token& t) const {
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
// `about` may name what the file declared; `what` is the grammar's own.
bool Parser::Expected(const std::string& what, const std::string& about) {
  const Token& t = Peek();
  if (t.kind == Tok::kError) return false;
  std::string message = "expected " + what + about + ", found " + Found(t);
  // The end of the file quotes nothing; a truncated file may be MOF.
  std::string plain = t.kind == Tok::kEnd
                          ? "expected " + what + ", found end of file"
                          : "expected " + what + "; the file is not MOF text";
  return src_->errors.FailAt(t.line, t.col, message, &plain);
}
const Token& Parser::Peek() { return src_->lexer->Peek(); }
Token Parser::Take() { return src_->lexer->Take(); }

bool Parser::IsPunct(char c) {
  const Token& t = Peek();
  return t.kind == Tok::kPunct && t.text[0] == c;
}
bool Parser::IsKeyword(std::string_view word) {
  const Token& t = Peek();
  return t.kind == Tok::kName && SameName(t.text, word);
}
bool Parser::ExpectPunct(char c) {
  if (!IsPunct(c)) return Expected(std::string("'") + c + "'");
  Take();
  return true;
}
bool Parser::ExpectKeyword(const char* word) {
  if (!IsKeyword(word)) return Expected(std::string("'") + word + "'");
  Take();
  return true;
}
bool Parser::ExpectName(const char* what, Token& out) {
  if (Peek().kind != Tok::kName) return Expected(what);
  out = Take();
  return true;
}

// One string literal or several adjacent ones, joined.
bool Parser::ParseStrings(std::u16string& out) {
  if (Peek().kind != Tok::kString) return Expected("a string");
  out = Take().str;
  while (Peek().kind == Tok::kString) out += Take().str;
  return true;
}

// A 32-bit status code: -2147483648 to 0xFFFFFFFF.
bool Parser::ParseCode(HRESULT& code) {
  const Token& t = Peek();
  if (t.kind != Tok::kInt ||
      t.magnitude > (t.negative ? 0x80000000u : 0xFFFFFFFFu))
    return Expected("a 32-bit status code");
  uint32_t bits = static_cast<uint32_t>(t.magnitude);
  code = static_cast<HRESULT>(t.negative ? 0u - bits : bits);
  Take();
  return true;
}

// ---- qualifiers

// A qualifier value is checked for form only; its meaning is dropped.
bool Parser::SkipQualifierValue() {
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

bool Parser::ParseQualifiers(Qualifiers& q) {
  if (!IsPunct('[')) return true;
  Take();
  for (;;) {
    Token name;
    if (!ExpectName("a qualifier name", name)) return false;
    bool failNext = SameName(name.text, "FailNext");
    bool failBegin = SameName(name.text, "FailBeginEnumeration");
    bool key = SameName(name.text, "Key");
    if (SameName(name.text, "EmbeddedInstance") ||
        SameName(name.text, "EmbeddedObject"))
      q.embedded = true;
    if (failNext || failBegin) {
      HRESULT code = 0;
      if (!ExpectPunct('(') || !ParseCode(code) || !ExpectPunct(')'))
        return false;
      (failNext ? q.failNext : q.failBeginEnumeration) = code;
      if (!q.line) q.line = name.line, q.col = name.col;
    } else if (IsPunct('(')) {
      Take();
      if (key) q.key = IsKeyword("true");
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
    } else if (key) {
      q.key = true;
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

// "Qualifier Name : type [= value] [, Scope(...)] [, Flavor(...)] ;": the
// value is checked against the type; the declaration itself is dropped.
bool Parser::ParseQualifierDeclaration() {
  Take();  // 'qualifier'
  Token name;
  PropertyDef type;
  if (!ExpectName("a qualifier name", name) || !ExpectPunct(':') ||
      !ParseType(Qualifiers{}, false, type) || !ParseArraySuffix(type))
    return false;
  type.name = name.text;
  if (type.type == CimType::kObject || type.type == CimType::kReference)
    return Fail(name,
                "a qualifier holds a CIM type other than object and "
                "reference");
  if (IsPunct('=')) {
    Take();
    CimValue ignored;
    if (!ParseValue(type, ignored, 0)) return false;
  }
  while (!IsPunct(';')) {
    if (IsPunct(',')) Take();
    Token part;
    if (!ExpectName("Scope or Flavor", part)) return false;
    if (!SameName(part.text, "scope") && !SameName(part.text, "flavor") &&
        !SameName(part.text, "policy"))
      return Fail(part, "expected Scope or Flavor, found '" +
                            std::string(part.text) + "'");
    if (!ExpectPunct('(')) return false;
    for (;;) {
      Token word;
      if (!ExpectName("a scope or flavor name", word)) return false;
      if (!IsPunct(',')) break;
      Take();
    }
    if (!ExpectPunct(')')) return false;
  }
  Take();  // ';'
  return true;
}

// ---- classes

bool Parser::ParseClass() {
  Take();  // 'class'
  Token name;
  if (!ExpectName("a class name", name)) return false;
  MofNamespace::Declaration decl;
  decl.name = name.text;
  if (IsPunct(':')) {
    Take();
    Token super;
    if (!ExpectName("a superclass name", super)) return false;
    decl.superclass = super.text;
  }
  if (!ExpectPunct('{')) return false;
  std::unordered_set<std::string> methods;
  std::vector<Token> names;  // of the properties, for a refusal
  while (!IsPunct('}')) {
    Qualifiers q;
    if (!ParseQualifiers(q)) return false;
    if (q.line)
      return FailAt(q.line, q.col,
                    "FailNext and FailBeginEnumeration belong on an instance, "
                    "not a class");
    PropertyDef prop;
    Token feature;
    if (!ParseType(q, true, prop, &feature, "a property or method name"))
      return false;
    if (IsPunct('(')) {
      if (!methods.insert(LowerName(feature.text)).second)
        return Fail(feature, "method " + std::string(feature.text) +
                                 " is already declared in class " + decl.name);
      if (!ParseMethodRest(decl.name, feature)) return false;
      continue;
    }
    if (prop.name == "void")
      return Fail(feature, "only a method is of type void");
    prop.name = feature.text;
    prop.key = q.key;
    if (!ParseArraySuffix(prop)) return false;
    std::optional<CimValue> value;
    if (IsPunct('=')) {
      Take();
      value.emplace();
      if (!ParseValue(prop, *value, 0)) return false;
    }
    if (!ExpectPunct(';')) return false;
    decl.properties.push_back(std::move(prop));
    decl.defaults.push_back(std::move(value));
    names.push_back(feature);
  }
  Take();  // '}'
  if (!ExpectPunct(';')) return false;
  src_->errors.Guard(false);  // a whole declaration: the file is MOF
  const ClassDef* existing = provider_->FindClass(decl.name);
  bool declared = existing && !provider_->IsOpen(*existing);
  if (declared && createOnly_)
    return Fail(name, "class " + decl.name + " is already declared");
  if (!declared && updateOnly_)
    return Fail(name, "class " + decl.name +
                          " is not declared, and #pragma classflags "
                          "\"updateonly\" forbids new classes");
  if (recording_) recording_->push_back(decl);
  std::string refusal;
  size_t twice = MofNamespace::npos;
  if (!provider_->Declare(std::move(decl), refusal, &twice))
    return Fail(twice < names.size() ? names[twice] : name, refusal);
  return true;
}

// A property, parameter or method type: a CIM type, "object" or a class
// name (an embedded object), either of the last two followed by "ref" for a
// reference; "void" for a method, whose prop.name it marks. A string
// qualified EmbeddedInstance or EmbeddedObject holds an object. With `name`,
// the name after the type too (`what` when it is missing): "object ref" not
// followed by a name declares an object named ref.
bool Parser::ParseType(const Qualifiers& q, bool method, PropertyDef& prop,
                       Token* name, const char* what) {
  Token type;
  if (Peek().kind != Tok::kName)
    return Expected(
        "a type (sint8 .. uint64, real32, real64, boolean, string, datetime, "
        "char16, object, a class name or 'ClassName ref')");
  type = Take();
  // A plain flag and type rather than the optional: GCC reads an empty
  // optional's payload where valgrind sees it.
  bool named = false;
  CimType cim = CimType::kObject;
  if (std::optional<CimType> t = CimTypeNamed(type.text))
    named = true, cim = *t;
  if (IsKeyword("ref") && cim == CimType::kObject) {
    Token ref = Take();
    // Only after "object", which names no class, so that a class name
    // followed by "ref" stays a reference that lacks its name.
    if (!name || !named || Peek().kind == Tok::kName) {
      prop.type = CimType::kReference;
      if (!named) prop.refClass = type.text;
      return !name || ExpectName(what, *name);
    }
    prop.type = cim;
    *name = ref;
    return true;
  }
  if (method && SameName(type.text, "void")) {
    prop.name = "void";
  } else {
    prop.type = cim;
    if (q.embedded && prop.type == CimType::kString)
      prop.type = CimType::kObject;
  }
  return !name || ExpectName(what, *name);
}

// "[]" or "[n]" after a name: an array, its size a suggestion only.
bool Parser::ParseArraySuffix(PropertyDef& prop) {
  if (!IsPunct('[')) return true;
  Take();
  if (Peek().kind == Tok::kInt && !Peek().negative) Take();
  if (!ExpectPunct(']')) return false;
  prop.isArray = true;
  return true;
}

// "(parameters);" after a method's name. Methods are not properties; their
// parameters are checked for form and dropped.
bool Parser::ParseMethodRest(const std::string& cls, const Token& name) {
  Take();  // '('
  if (!IsPunct(')')) {
    std::unordered_set<std::string> seen;
    for (;;) {
      Qualifiers q;
      PropertyDef param;
      Token paramName;
      if (!ParseQualifiers(q) ||
          !ParseType(q, false, param, &paramName, "a parameter name") ||
          !ParseArraySuffix(param))
        return false;
      if (!seen.insert(LowerName(paramName.text)).second)
        return Fail(paramName, "parameter " + std::string(paramName.text) +
                                   " is already declared in method " + cls +
                                   "." + std::string(name.text));
      param.name = paramName.text;
      if (IsPunct('=')) {
        Take();
        CimValue ignored;
        if (!ParseValue(param, ignored, 0)) return false;
      }
      if (!IsPunct(',')) break;
      Take();
    }
  }
  return ExpectPunct(')') && ExpectPunct(';');
}

}  // namespace posix_wmi
