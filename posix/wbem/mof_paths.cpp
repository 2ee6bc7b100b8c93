// The MOF reader's view of the CIM type table, and WMI object paths: written
// from an instance's keys, and read from a #pragma deleteinstance.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <utility>

#include "posix/wbem/mof_namespace.h"
#include "posix/wbem/names.h"
#include "text/utf.h"
#include "wmi/cimtype.h"

namespace posix_wmi {
namespace {

void AppendQuoted(std::u16string& out, const std::u16string& text) {
  out += u'"';
  for (char16_t c : text) {
    if (c == u'"' || c == u'\\') out += u'\\';
    out += c;
  }
  out += u'"';
}

// A key value as an object path writes it.
std::u16string KeyText(const PropertyDef& p, const CimValue& v) {
  std::u16string out;
  if (v.isNull || v.items.empty()) return u"NULL";
  const CimScalar& s = v.items[0];
  if (auto* text = std::get_if<std::u16string>(&s)) {
    AppendQuoted(out, *text);
  } else if (auto* b = std::get_if<bool>(&s)) {
    out = *b ? u"TRUE" : u"FALSE";
  } else if (auto* d = std::get_if<double>(&s)) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.17g", *d);
    for (const char* c = buf; *c; ++c) out += static_cast<char16_t>(*c);
  } else if (auto* i = std::get_if<int64_t>(&s)) {
    for (char c : std::to_string(*i)) out += static_cast<char16_t>(c);
  } else if (auto* u = std::get_if<uint64_t>(&s)) {
    for (char c : std::to_string(*u)) out += static_cast<char16_t>(c);
  } else {
    out = u"NULL";  // an embedded object cannot be a key
  }
  (void)p;
  return out;
}

bool IsDigitText(const std::string& s) {
  size_t i = s[0] == '-' ? 1 : 0;
  return i < s.size() &&
         s.find_first_not_of("0123456789", i) == std::string::npos;
}

std::u16string Widen(std::string_view s) {
  std::u16string out;
  for (char c : s) out += static_cast<char16_t>(static_cast<unsigned char>(c));
  return out;
}

std::u16string PathOf(const Instance& inst, bool lower) {
  const ClassDef& cls = *inst.cls;
  std::vector<size_t> keys;
  for (size_t i = 0; i < cls.properties.size(); ++i)
    if (cls.properties[i].key) keys.push_back(i);
  std::sort(keys.begin(), keys.end(), [&](size_t a, size_t b) {
    return LowerName(cls.properties[a].name) <
           LowerName(cls.properties[b].name);
  });
  std::u16string out = Widen(lower ? LowerName(cls.name) : cls.name);
  if (keys.empty()) return out + u"=@";
  static const CimValue kNull;
  for (size_t k = 0; k < keys.size(); ++k) {
    const PropertyDef& p = cls.properties[keys[k]];
    out += k ? u',' : u'.';
    out += Widen(lower ? LowerName(p.name) : p.name);
    out += u'=';
    out +=
        KeyText(p, keys[k] < inst.values.size() ? inst.values[keys[k]] : kNull);
  }
  return out;
}

}  // namespace

std::u16string ObjectPathOf(const Instance& inst) {
  return PathOf(inst, false);
}

std::string CanonicalPathOf(const Instance& inst) {
  return Utf16ToUtf8(PathOf(inst, true));
}

std::string CanonicalPath(const ClassDef& cls, const ParsedPath& path) {
  std::u16string out = Widen(LowerName(cls.name));
  if (path.keys.empty()) return Utf16ToUtf8(out + u"=@");
  for (size_t k = 0; k < path.keys.size(); ++k) {
    std::string key = path.keys[k].first;
    if (key.empty()) {  // "Class=value" names the class's one key
      for (const PropertyDef& p : cls.properties)
        if (p.key) key = LowerName(p.name);
    }
    out += k ? u',' : u'.';
    out += Widen(key) + u'=' + path.keys[k].second;
  }
  return Utf16ToUtf8(out);
}

bool ParseObjectPath(std::string_view path, ParsedPath& out) {
  out = ParsedPath{};
  size_t i = 0;
  auto name = [&]() {
    size_t start = i;
    if (i < path.size() && IsNameStart(path[i]))
      while (i < path.size() && IsNameChar(path[i])) ++i;
    return path.substr(start, i - start);
  };
  // A value as PathOf writes it: quoted text re-quoted with double quotes,
  // a word (number, TRUE, FALSE) as it stands.
  auto value = [&](std::u16string& text) {
    if (i < path.size() && (path[i] == '"' || path[i] == '\'')) {
      char quote = path[i++];
      std::u16string raw;
      while (i < path.size() && path[i] != quote) {
        if (path[i] == '\\' && i + 1 < path.size()) ++i;
        char32_t cp;
        if (!DecodeUtf8(path, &i, &cp)) return false;
        AppendUtf16(raw, cp);
      }
      if (i++ >= path.size()) return false;
      AppendQuoted(text, raw);
      return true;
    }
    size_t start = i;
    while (i < path.size() && path[i] != ',') ++i;
    std::string word(path.substr(start, i - start));
    if (word.empty()) return false;
    if (SameName(word, "true") || SameName(word, "false")) {
      text = SameName(word, "true") ? u"TRUE" : u"FALSE";
      return true;
    }
    char* end = nullptr;
    errno = 0;
    if (word[0] == '-')
      word = std::to_string(std::strtoll(word.c_str(), &end, 0));
    else
      word = std::to_string(std::strtoull(word.c_str(), &end, 0));
    if (errno || !end || *end || !IsDigitText(word)) return false;
    text = Widen(word);
    return true;
  };
  std::string_view cls = name();
  if (cls.empty()) return false;
  out.className = cls;
  if (path.substr(i) == "=@") return true;
  if (i < path.size() && path[i] == '=') {
    ++i;  // the one key, unnamed
    out.keys.emplace_back();
    if (!value(out.keys.back().second)) return false;
  } else {
    while (i < path.size() && path[i] == (out.keys.empty() ? '.' : ',')) {
      ++i;
      std::string_view key = name();
      if (key.empty() || i >= path.size() || path[i] != '=') return false;
      ++i;
      out.keys.emplace_back(LowerName(key), std::u16string());
      if (!value(out.keys.back().second)) return false;
    }
  }
  if (i != path.size() || out.keys.empty()) return false;
  std::sort(out.keys.begin(), out.keys.end());
  return true;
}

std::optional<CimType> CimTypeNamed(std::string_view keyword) {
  const CimTypeInfo* info = FindCimTypeKeyword(keyword);
  if (!info) return std::nullopt;
  return static_cast<CimType>(info->type);
}

const char* TypeText(CimType t) {
  if (t == CimType::kReference) return "reference";
  const CimTypeInfo* info = FindCimType(static_cast<CIMTYPE>(t));
  return info && info->keyword ? info->keyword : "?";
}

bool IntegerBounds(CimType t, uint64_t* negMax, uint64_t* posMax) {
  const CimTypeInfo* info = FindCimType(static_cast<CIMTYPE>(t));
  if (!info || !IsCimInteger(*info)) return false;
  *negMax = info->negMax, *posMax = info->posMax;
  return true;
}

bool IsSigned(CimType t) {
  const CimTypeInfo* info = FindCimType(static_cast<CIMTYPE>(t));
  return info && info->isSigned;
}

bool IsDatetime(const std::u16string& s) {
  return IsCimDatetime(s.data(), s.size());
}

}  // namespace posix_wmi
