// The MOF reader's instances and values. An instance of a class that was
// never declared takes each property's type from its value, as WMI's own
// instance text writes it; an alias stands for its instance's object path,
// or, for an object property, for the instance itself.
#include <algorithm>
#include <cfloat>
#include <utility>

#include "posix/wbem/mof_parser.h"
#include "posix/wbem/names.h"
#include "text/utf.h"

namespace posix_wmi {
namespace {

// The type a value written in an instance of an undeclared class gives its
// property: text a string, a whole number a sint32 (or the smallest of
// uint32, sint64 and uint64 that holds it), a real a real64, TRUE or FALSE
// a boolean, 'c' a char16, an alias a reference, "instance of" an object.
// Null for NULL and for what is no value.
std::optional<CimType> TypeOfValue(const Token& t) {
  switch (t.kind) {
    case Tok::kString:
      return CimType::kString;
    case Tok::kReal:
      return CimType::kReal64;
    case Tok::kChar:
      return CimType::kChar16;
    case Tok::kAlias:
      return CimType::kReference;
    case Tok::kInt:
      if (t.negative)
        return t.magnitude <= 0x80000000u ? CimType::kSint32 : CimType::kSint64;
      if (t.magnitude <= 0x7FFFFFFFu) return CimType::kSint32;
      if (t.magnitude <= 0xFFFFFFFFu) return CimType::kUint32;
      return t.magnitude <= 0x7FFFFFFFFFFFFFFFu ? CimType::kSint64
                                                : CimType::kUint64;
    case Tok::kName:
      if (SameName(t.text, "true") || SameName(t.text, "false"))
        return CimType::kBoolean;
      if (SameName(t.text, "instance")) return CimType::kObject;
      return std::nullopt;
    default:
      return std::nullopt;
  }
}

// What an array element written NULL holds: the element type's zero, since
// the arrays WMI hands out have no NULL elements.
CimScalar ZeroOf(CimType type) {
  uint64_t negMax, posMax;
  if (IntegerBounds(type, &negMax, &posMax)) {
    if (IsSigned(type)) return int64_t{0};
    return uint64_t{0};
  }
  switch (type) {
    case CimType::kReal32:
    case CimType::kReal64:
      return 0.0;
    case CimType::kBoolean:
      return false;
    case CimType::kObject:
      return std::shared_ptr<const Instance>();
    default:
      return std::u16string();
  }
}

// A 64-bit integer written as text, as WMI writes them: decimal, 0x hex or
// 0 octal, after an optional sign.
bool ParseIntegerText(const std::u16string& s, bool* negative,
                      uint64_t* magnitude) {
  size_t i = 0;
  *negative = false;
  if (i < s.size() && (s[i] == u'-' || s[i] == u'+'))
    *negative = s[i++] == u'-';
  unsigned base = 10;
  if (s.size() > i + 1 && s[i] == u'0' &&
      (s[i + 1] == u'x' || s[i + 1] == u'X'))
    base = 16, i += 2;
  else if (s.size() > i + 1 && s[i] == u'0')
    base = 8, ++i;
  if (i >= s.size()) return false;
  *magnitude = 0;
  for (; i < s.size(); ++i) {
    char16_t c = s[i];
    unsigned digit = c >= u'0' && c <= u'9'   ? c - u'0'
                     : c >= u'a' && c <= u'f' ? c - u'a' + 10
                     : c >= u'A' && c <= u'F' ? c - u'A' + 10
                                              : 99;
    if (digit >= base || *magnitude > (UINT64_MAX - digit) / base) return false;
    *magnitude = *magnitude * base + digit;
  }
  return true;
}

}  // namespace

// "instance of Class [as $Alias] { ... }" without the ';' after it. A
// listed instance (depth 0) joins its namespace's answers; an embedded one
// is a value.
bool Parser::ParseInstance(const Qualifiers& q, int depth,
                           std::shared_ptr<Instance>& out) {
  Token start = Take();  // 'instance'
  if (depth > kMaxDepth)
    return Fail(start, "embedded instances nested more than " +
                           std::to_string(kMaxDepth) + " deep");
  Token name;
  if (!ExpectKeyword("of") || !ExpectName("a class name", name)) return false;
  const ClassDef* cls = provider_->FindClass(name.text);
  if (!cls) cls = provider_->DeclareOpen(name.text);
  auto inst = std::make_shared<Instance>();
  inst->cls = cls;
  inst->values = provider_->InitialValues(*cls);
  inst->failNext = q.failNext;
  inst->failBeginEnumeration = q.failBeginEnumeration;
  Alias* alias = nullptr;
  if (IsKeyword("as")) {
    Take();
    if (Peek().kind != Tok::kAlias) return Expected("an alias '$Name'");
    Token as = Take();
    auto [it, added] =
        aliases_.emplace(LowerName(as.text.substr(1)), Alias{inst});
    if (!added)
      return Fail(as, "alias " + std::string(as.text) + " is already defined");
    alias = &it->second;
  }
  if (!ExpectPunct('{')) return false;
  std::shared_ptr<Instance> outerOwner = std::move(valueOwner_);
  int outerNesting = childNesting_;
  valueOwner_ = inst;
  childNesting_ = 0;
  std::vector<bool> set;  // grows as properties are set
  bool ok = true;
  size_t next = 0;
  while (ok && !IsPunct('}'))
    ok = ParseInstanceProperty(*inst, set, next, depth);
  valueOwner_ = std::move(outerOwner);
  int nesting = childNesting_ + 1;
  childNesting_ = std::max(outerNesting, nesting);
  if (!ok) return false;
  Token end = Take();  // '}'
  if (nesting > kMaxDepth + 1)
    return Fail(end, "embedded instances nested more than " +
                         std::to_string(kMaxDepth) + " deep");
  if (alias) alias->complete = true, alias->nesting = nesting;
  out = inst;
  return Complete(inst, depth == 0, name);
}

// "[qualifiers] Name = value;", or "[qualifiers] Name;" for a value that a
// property provider would supply, which leaves the class default.
bool Parser::ParseInstanceProperty(Instance& inst, std::vector<bool>& set,
                                   size_t& next, int depth) {
  const ClassDef& cls = *inst.cls;
  Qualifiers pq;
  if (!ParseQualifiers(pq)) return false;
  if (pq.failBeginEnumeration)
    return FailAt(pq.line, pq.col,
                  "FailBeginEnumeration belongs on an instance, not a "
                  "property");
  Token propName;
  if (!ExpectName("a property name", propName)) return false;
  // Instances mostly set properties in their class's order, which saves
  // looking each name up.
  size_t i = next < cls.properties.size() &&
                     SameName(cls.properties[next].name, propName.text)
                 ? next
                 : provider_->PropertyIndex(cls, propName.text);
  if (i == MofNamespace::npos && !provider_->IsOpen(cls))
    return Fail(propName, "class " + cls.name + " has no property " +
                              std::string(propName.text));
  if (i != MofNamespace::npos && i < set.size() && set[i])
    return Fail(propName,
                "property " + cls.properties[i].name + " is already set");
  if (IsPunct(';') && i != MofNamespace::npos) {
    Take();
  } else {
    CimValue value;
    if (!ExpectPunct('=')) return false;
    if (provider_->IsOpen(cls)) {
      if (!ParseOpenValue(cls, propName, i, value, depth)) return false;
    } else if (!ParseValue(cls.properties[i], value, depth)) {
      return false;
    }
    if (!ExpectPunct(';')) return false;
    if (i >= inst.values.size()) inst.values.resize(i + 1);
    inst.values[i] = std::move(value);
  }
  if (i >= set.size()) set.resize(i + 1);
  set[i] = true;
  next = i + 1;
  if (pq.failNext) {
    if (i >= inst.failPropertyNext.size()) inst.failPropertyNext.resize(i + 1);
    inst.failPropertyNext[i] = pq.failNext;
  }
  return true;
}

// A value of a property of an open class: its type comes from the first
// value that is not NULL, and a new property goes last.
bool Parser::ParseOpenValue(const ClassDef& cls, const Token& name,
                            size_t& index, CimValue& value, int depth) {
  if (index != MofNamespace::npos && provider_->TypeKnown(cls, index))
    return ParseValue(cls.properties[index], value, depth);
  PropertyDef prop;
  prop.name = index != MofNamespace::npos ? cls.properties[index].name
                                          : std::string(name.text);
  bool array = IsPunct('{');
  if (array) Take();
  const Token& first = Peek();
  std::optional<CimType> type = TypeOfValue(first);
  bool null = !type && (IsKeyword("null") || (array && IsPunct('}')));
  if (!type && !null) return Expected("a value", " for property " + prop.name);
  prop.type = type.value_or(CimType::kString);
  prop.isArray = array;
  if (array) {
    if (!ParseArrayItems(prop, value, depth)) return false;
  } else if (null) {
    Take();
    value = CimValue{};
  } else if (!ParseValue(prop, value, depth)) {
    return false;
  }
  // An instance of the class embedded in the value may have named the
  // property meanwhile.
  if (index == MofNamespace::npos) {
    index = provider_->PropertyIndex(cls, prop.name);
    if (index != MofNamespace::npos && provider_->TypeKnown(cls, index) &&
        (cls.properties[index].type != prop.type ||
         cls.properties[index].isArray != prop.isArray))
      return Fail(name, "property " + prop.name + " of class " + cls.name +
                            " holds values of another type");
  }
  if (index == MofNamespace::npos)
    index = provider_->AddOpenProperty(cls, prop, !null);
  else if (!null && !provider_->TypeKnown(cls, index))
    provider_->SetType(cls, index, prop.type, prop.isArray);
  return true;
}

bool Parser::ParseValue(const PropertyDef& prop, CimValue& out, int depth) {
  out = CimValue{};
  if (IsKeyword("null")) {
    Take();
    return true;
  }
  if (!prop.isArray) {
    out.isNull = false;
    out.items.emplace_back();
    item_ = 0;
    return ParseScalar(prop, out.items.back(), depth);
  }
  if (!IsPunct('{'))
    return Expected("'{'", " for the array property " + prop.name);
  Take();
  return ParseArrayItems(prop, out, depth);
}

// The elements of an array and its '}', after the '{'.
bool Parser::ParseArrayItems(const PropertyDef& prop, CimValue& out,
                             int depth) {
  out = CimValue{};
  out.isNull = false;
  if (!IsPunct('}')) {
    for (;;) {
      if (IsKeyword("null")) {
        Take();
        out.items.push_back(ZeroOf(prop.type));
      } else {
        out.items.emplace_back();
        item_ = out.items.size() - 1;
        if (!ParseScalar(prop, out.items.back(), depth)) return false;
      }
      if (!IsPunct(',')) break;
      Take();
    }
  }
  return ExpectPunct('}');
}

bool Parser::ParseScalar(const PropertyDef& prop, CimScalar& out, int depth) {
  std::string of =
      std::string(" for ") + TypeText(prop.type) + " property " + prop.name;
  const Token& t = Peek();
  if (t.kind == Tok::kError) return false;
  if (t.kind == Tok::kAlias) return ParseAlias(prop, out, item_);
  uint64_t negMax, posMax;
  if (IntegerBounds(prop.type, &negMax, &posMax))
    return ParseInteger(prop, out);
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
        return Expected("a number", of);
      if (prop.type == CimType::kReal32 && (v > FLT_MAX || v < -FLT_MAX))
        return Fail(t, "value out of range" + of);
      out = v;
      Take();
      return true;
    }
    case CimType::kBoolean:
      if (!IsKeyword("true") && !IsKeyword("false"))
        return Expected("TRUE or FALSE", of);
      out = IsKeyword("true");
      Take();
      return true;
    case CimType::kString:
    case CimType::kDatetime:
    case CimType::kReference: {
      // A whole number for a string is its decimal text, as the WMI
      // compiler converts it.
      if (prop.type == CimType::kString && t.kind == Tok::kInt) {
        std::string digits =
            (t.negative ? "-" : "") + std::to_string(t.magnitude);
        out = std::u16string(digits.begin(), digits.end());
        Take();
        return true;
      }
      Token at = t;
      std::u16string s;
      if (t.kind != Tok::kString || !ParseStrings(s))
        return Expected("a string", of);
      if (prop.type == CimType::kDatetime && !IsDatetime(s))
        return Fail(at,
                    "expected a datetime \"yyyymmddHHMMSS.mmmmmmsUUU\"" + of);
      out = std::move(s);
      return true;
    }
    case CimType::kObject: {
      if (!IsKeyword("instance")) return Expected("'instance of'", of);
      std::shared_ptr<Instance> inst;
      if (!ParseInstance(Qualifiers{}, depth + 1, inst)) return false;
      out = std::shared_ptr<const Instance>(std::move(inst));
      return true;
    }
    default:
      return Fail(t, "unsupported type" + of);
  }
}

// An integer, char16 included: a number, a character for a char16, or, for
// a 64-bit type, the number as text (WMI's own text form: "4581445632").
bool Parser::ParseInteger(const PropertyDef& prop, CimScalar& out) {
  std::string of =
      std::string(" for ") + TypeText(prop.type) + " property " + prop.name;
  Token t = Peek();
  uint64_t negMax = 0, posMax = 0;
  IntegerBounds(prop.type, &negMax, &posMax);
  bool wide = prop.type == CimType::kSint64 || prop.type == CimType::kUint64;
  bool negative = t.negative;
  uint64_t magnitude = t.magnitude;
  if (prop.type == CimType::kChar16 && t.kind == Tok::kChar) {
    out = static_cast<int64_t>(t.str[0]);
    Take();
    return true;
  }
  if (wide && t.kind == Tok::kString) {
    std::u16string text;
    if (!ParseStrings(text)) return false;
    if (!ParseIntegerText(text, &negative, &magnitude))
      return Fail(t, "expected an integer in the string" + of);
  } else if (t.kind == Tok::kInt) {
    Take();
  } else {
    return Expected(prop.type == CimType::kChar16 ? "a character or an integer"
                                                  : "an integer",
                    of);
  }
  if (magnitude > (negative ? negMax : posMax))
    return Fail(t, "value out of range" + of);
  if (IsSigned(prop.type))
    out = negative ? static_cast<int64_t>(0 - magnitude)
                   : static_cast<int64_t>(magnitude);
  else
    out = magnitude;
  return true;
}

// "$Alias": the instance itself for an object property, which must be read
// by then; its object path for a reference or a string, filled in once the
// file is read, so that it may come later in the file.
bool Parser::ParseAlias(const PropertyDef& prop, CimScalar& out, size_t item) {
  Token t = Take();
  if (prop.type == CimType::kObject) {
    std::string name = LowerName(t.text.substr(1));
    auto it = aliases_.find(name);
    if (it == aliases_.end() || !it->second.complete)
      return Fail(t, "alias " + std::string(t.text) +
                         " is not defined before this point, where its "
                         "instance is embedded");
    childNesting_ = std::max(childNesting_, it->second.nesting);
    out = std::shared_ptr<const Instance>(it->second.inst);
    return true;
  }
  if (prop.type != CimType::kReference && prop.type != CimType::kString)
    return Fail(t, std::string("expected a value for ") + TypeText(prop.type) +
                       " property " + prop.name + ", found '" +
                       std::string(t.text) + "'");
  if (!valueOwner_)
    return Fail(t, "an alias stands only in an instance's values");
  out = std::u16string();
  pending_.push_back(Pending{valueOwner_, provider_, prop.name, item,
                             std::string(t.text), Where(t)});
  pendingOf_[valueOwner_.get()].push_back(pending_.size() - 1);
  return true;
}

// Registers a finished instance; an instance of __Namespace also makes the
// namespace it names below the current one.
bool Parser::Complete(const std::shared_ptr<Instance>& inst, bool listed,
                      const Token& at) {
  provider_->AddInstance(inst, listed);
  if (!listed || !SameName(inst->cls->name, "__Namespace")) return true;
  size_t i = provider_->PropertyIndex(*inst->cls, "Name");
  const std::u16string* name = nullptr;
  if (i < inst->values.size() && !inst->values[i].isNull &&
      !inst->values[i].items.empty())
    name = std::get_if<std::u16string>(&inst->values[i].items[0]);
  std::string path;
  if (!name || !ResolveNamespace(Utf16ToUtf8(*name), namespace_, &path) ||
      name->find(u'\\') != std::u16string::npos ||
      name->find(u'/') != std::u16string::npos)
    return Fail(at, "an instance of __Namespace needs a Name without '\\'");
  return NamespaceAt(path) != nullptr;
}

// Fills in the object paths of the aliases used as references.
bool Parser::ResolveAliases() {
  for (size_t k = 0; k < pending_.size(); ++k)
    if (!Resolve(k, 0)) return false;
  if (!pending_.empty())
    for (auto& entry : namespaces_) entry.second->PathsChanged();
  aliases_.clear();
  pending_.clear();
  pendingOf_.clear();
  return true;
}

// A path is made of key values, and a key may itself be an alias: those are
// resolved first, so that a path holds the finished paths of its keys.
bool Parser::Resolve(size_t k, int depth) {
  Pending& p = pending_[k];
  auto fail = [&](const std::string& message) {
    error_ = p.where + ": " + message;
    return false;
  };
  if (p.state == Pending::State::kDone) return true;
  if (p.state == Pending::State::kResolving)
    return fail("alias " + p.alias +
                " names an instance whose keys refer back to it");
  if (depth > kMaxDepth)
    return fail("object paths nested more than " + std::to_string(kMaxDepth) +
                " deep");
  auto alias = aliases_.find(LowerName(p.alias.substr(1)));
  if (alias == aliases_.end()) return fail("undefined alias " + p.alias);
  p.state = Pending::State::kResolving;
  Instance& target = *alias->second.inst;
  auto uses = pendingOf_.find(&target);
  if (uses != pendingOf_.end()) {
    for (size_t j : uses->second) {
      const Pending& use = pending_[j];
      size_t key = use.provider->PropertyIndex(*target.cls, use.property);
      if (key != MofNamespace::npos && target.cls->properties[key].key &&
          !Resolve(j, depth + 1))
        return false;
    }
  }
  std::u16string path = ObjectPathOf(target);
  // Paths of paths grow with each level of quoting; bound them by the input.
  pathChars_ += path.size();
  if (pathChars_ > 16 * bytesRead_ + (size_t{1} << 20))
    return fail("the object paths made from aliases outgrow the files");
  Instance& owner = *p.owner;
  size_t i = p.provider->PropertyIndex(*owner.cls, p.property);
  if (i < owner.values.size() && p.item < owner.values[i].items.size())
    owner.values[i].items[p.item] = std::move(path);
  p.state = Pending::State::kDone;
  return true;
}

}  // namespace posix_wmi
