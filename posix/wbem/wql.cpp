// WQL parser of the stand-in WMI service.
#include "posix/wbem/wql.h"

#include "posix/wbem/names.h"
#include "posix/wbem/wbemcli.h"

namespace posix_wmi {
namespace {

// Hands out the words of a query one at a time: a name, or one of the
// single characters '*' and ','. Anything else is a token of its own that
// no grammar rule accepts, so the query is refused where it stands.
class Words {
 public:
  explicit Words(std::string_view text) : text_(text) {}

  // The next word; empty at the end of the text.
  std::string_view Next() {
    while (pos_ < text_.size() && IsSpace(text_[pos_])) ++pos_;
    size_t start = pos_;
    if (pos_ == text_.size()) return {};
    if (IsNameStart(text_[pos_])) {
      while (pos_ < text_.size() && IsNameChar(text_[pos_])) ++pos_;
    } else {
      ++pos_;
    }
    return text_.substr(start, pos_ - start);
  }

 private:
  std::string_view text_;
  size_t pos_ = 0;
};

bool IsName(std::string_view word) {
  return !word.empty() && IsNameStart(word[0]);
}

// A property or class name must not be one of the statement's keywords, or
// "SELECT FROM FROM C" would pass.
bool IsKeyword(std::string_view word) {
  return SameName(word, "select") || SameName(word, "from") ||
         SameName(word, "where");
}

// Every object carries these; a result holds them whatever the select
// list names.
constexpr std::string_view kSystemProperties[] = {
    "__CLASS", "__DERIVATION",     "__DYNASTY", "__GENUS",  "__NAMESPACE",
    "__PATH",  "__PROPERTY_COUNT", "__RELPATH", "__SERVER", "__SUPERCLASS",
};

bool IsSystemProperty(std::string_view name) {
  for (std::string_view system : kSystemProperties)
    if (SameName(name, system)) return true;
  return false;
}

}  // namespace

HRESULT ParseWql(std::string_view text, WqlQuery& out) {
  out = WqlQuery{};
  Words words(text);
  if (!SameName(words.Next(), "select")) return WBEM_E_INVALID_QUERY;

  std::string_view word = words.Next();
  if (word == "*") {
    out.all = true;
    word = words.Next();
  } else {
    for (;;) {
      if (!IsName(word) || IsKeyword(word)) return WBEM_E_INVALID_QUERY;
      out.properties.emplace_back(word);
      word = words.Next();
      if (word != ",") break;
      word = words.Next();
    }
  }

  if (!SameName(word, "from")) return WBEM_E_INVALID_QUERY;
  word = words.Next();
  if (!IsName(word) || IsKeyword(word)) return WBEM_E_INVALID_QUERY;
  out.className = word;
  if (!words.Next().empty()) return WBEM_E_INVALID_QUERY;
  return S_OK;
}

HRESULT ResolveSelection(const ClassDef& cls, const WqlQuery& query,
                         std::vector<size_t>& selected) {
  selected.clear();
  std::vector<bool> wanted(cls.properties.size(), query.all);
  for (const std::string& name : query.properties) {
    if (IsSystemProperty(name)) {
      if (SameName(name, "__PATH") || SameName(name, "__RELPATH"))
        for (size_t i = 0; i < cls.properties.size(); ++i)
          wanted[i] = wanted[i] || cls.properties[i].key;
      continue;
    }
    size_t i = 0;
    while (i < cls.properties.size() && !SameName(cls.properties[i].name, name))
      ++i;
    if (i == cls.properties.size()) return WBEM_E_INVALID_QUERY;
    wanted[i] = true;
  }
  for (size_t i = 0; i < wanted.size(); ++i)
    if (wanted[i]) selected.push_back(i);
  return S_OK;
}

std::vector<size_t> SelectedOf(const ClassDef& queried, const Selection& sel,
                               const ClassDef& actual) {
  std::vector<size_t> out;
  if (sel.all) {
    out.resize(actual.properties.size());
    for (size_t i = 0; i < out.size(); ++i) out[i] = i;
    return out;
  }
  if (&queried == &actual) return sel.properties;
  // A derived class may put an inherited property elsewhere (a live class
  // walks by name), so each is looked for by name.
  std::vector<bool> wanted(actual.properties.size());
  for (size_t index : sel.properties) {
    if (index >= queried.properties.size()) continue;
    const std::string& name = queried.properties[index].name;
    for (size_t i = 0; i < actual.properties.size(); ++i)
      if (SameName(actual.properties[i].name, name)) wanted[i] = true;
  }
  for (size_t i = 0; i < wanted.size(); ++i)
    if (wanted[i]) out.push_back(i);
  return out;
}

}  // namespace posix_wmi
