// The MOF reader's repository and the loading of a repository file.
#include "posix/wbem/mof_repository.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "posix/wbem/mof.h"
#include "posix/wbem/names.h"
#include "posix/wbem/wbemcli.h"

namespace posix_wmi {
namespace {

std::string Lower(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = AsciiLower(c);
  return out;
}

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

}  // namespace

const ClassDef* MofProvider::FindClass(std::string_view name) const {
  auto it = byName_.find(Lower(name));
  return it == byName_.end() ? nullptr : it->second;
}

HRESULT MofProvider::Instances(
    const ClassDef& cls, const std::vector<size_t>&,
    std::vector<std::shared_ptr<const Instance>>& out) {
  out.clear();
  for (const auto& inst : instances_)
    if (IsA(inst->cls, &cls)) out.push_back(inst);
  return S_OK;
}

const ClassDef* MofProvider::AddClass(std::unique_ptr<ClassDef> def) {
  classes_.push_back(std::move(def));
  const ClassDef* p = classes_.back().get();
  byName_[Lower(p->name)] = p;
  return p;
}

void MofProvider::AddInstance(std::shared_ptr<const Instance> inst) {
  instances_.push_back(std::move(inst));
}

// A class is what it derives from too, so a query for a superclass returns
// its subclasses' instances, as WMI's does.
bool MofProvider::IsA(const ClassDef* c, const ClassDef* target) const {
  for (int hops = 0; c && hops <= static_cast<int>(classes_.size()); ++hops) {
    if (c == target) return true;
    c = c->superclass.empty() ? nullptr : FindClass(c->superclass);
  }
  return false;
}

std::optional<CimType> CimTypeNamed(std::string_view keyword) {
  for (const TypeName& n : kTypeNames)
    if (SameName(keyword, n.name)) return n.type;
  return std::nullopt;
}

const char* TypeText(CimType t) {
  if (t == CimType::kReference) return "reference";
  for (const TypeName& n : kTypeNames)
    if (n.type == t) return n.name;
  return "?";
}

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
