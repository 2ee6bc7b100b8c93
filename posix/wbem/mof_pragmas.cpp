// The MOF reader's pragmas: the WMI compiler's and the stand-in's own, fail,
// which injects a failure into a platform call. Each list of names the
// reader accepts is one table, which both the parse and its refusal read.
#include <algorithm>
#include <utility>

#include "posix/wbem/mof_parser.h"
#include "posix/wbem/names.h"
#include "text/utf.h"

namespace posix_wmi {
namespace {

// How a pragma's arguments are read.
enum class PragmaForm {
  kBare,            // no arguments
  kText,            // ("..."): read and without effect here
  kNamespace,       // ("path")
  kInclude,         // ("file")
  kFail,            // ("Operation", code)
  kDeleteClass,     // ("Class", FAIL|NOFAIL)
  kDeleteInstance,  // ("Path", FAIL|NOFAIL)
  kClassFlags,      // ("flag", ...)
};

struct Pragma {
  // cppcheck-suppress unusedStructMember ; read through Named() and OneOf()
  const char* name;
  PragmaForm form;
};

// In the order a refusal lists them.
constexpr Pragma kPragmas[] = {
    {"amendment", PragmaForm::kText},
    {"autorecover", PragmaForm::kBare},
    {"classflags", PragmaForm::kClassFlags},
    {"deleteclass", PragmaForm::kDeleteClass},
    {"deleteinstance", PragmaForm::kDeleteInstance},
    {"fail", PragmaForm::kFail},
    {"include", PragmaForm::kInclude},
    {"instanceflags", PragmaForm::kText},
    {"instancelocale", PragmaForm::kText},
    {"locale", PragmaForm::kText},
    {"namespace", PragmaForm::kNamespace},
};

// The platform calls `#pragma fail` can make fail.
struct FailableCall {
  // cppcheck-suppress unusedStructMember ; read through Named() and OneOf()
  const char* name;
  std::optional<HRESULT> InjectedFailures::*slot;
};

constexpr FailableCall kFailableCalls[] = {
    {"OleInitialize", &InjectedFailures::oleInitialize},
    {"CoInitializeSecurity", &InjectedFailures::coInitializeSecurity},
    {"CoCreateInstance", &InjectedFailures::coCreateInstance},
    {"ConnectServer", &InjectedFailures::connectServer},
    {"ExecQuery", &InjectedFailures::execQuery},
};

// What a class flag asks of the classes that follow; safeupdate and
// forceupdate are what an update does here anyway.
enum class ClassFlag { kCreateOnly, kUpdateOnly, kUpdate };

struct ClassFlagName {
  // cppcheck-suppress unusedStructMember ; read through Named() and OneOf()
  const char* name;
  ClassFlag flag;
};

constexpr ClassFlagName kClassFlags[] = {
    {"createonly", ClassFlag::kCreateOnly},
    {"updateonly", ClassFlag::kUpdateOnly},
    {"safeupdate", ClassFlag::kUpdate},
    {"forceupdate", ClassFlag::kUpdate},
};

// The row of `rows` of that name, matched without regard to case, or null.
template <class Row, size_t N>
const Row* Named(const Row (&rows)[N], std::string_view name) {
  for (const Row& row : rows)
    if (SameName(name, row.name)) return &row;
  return nullptr;
}

// "a, b or c" of the rows' names.
template <class Row, size_t N>
std::string OneOf(const Row (&rows)[N]) {
  std::string out;
  for (size_t i = 0; i < N; ++i) {
    if (i > 0) out += i + 1 < N ? ", " : " or ";
    out += rows[i].name;
  }
  return out;
}

}  // namespace

bool Parser::ParsePragma() {
  Take();  // '#'
  Token name;
  if (!ExpectKeyword("pragma") || !ExpectName("a pragma name", name))
    return false;
  const Pragma* pragma = Named(kPragmas, name.text);
  if (!pragma)
    return Fail(name, "expected pragma " + OneOf(kPragmas) + ", found '" +
                          std::string(name.text) + "'");
  switch (pragma->form) {
    case PragmaForm::kBare:
      return true;
    case PragmaForm::kDeleteClass:
      return ParseDelete(false);
    case PragmaForm::kDeleteInstance:
      return ParseDelete(true);
    case PragmaForm::kClassFlags:
      return ParseClassFlags();
    case PragmaForm::kText:
    case PragmaForm::kNamespace:
    case PragmaForm::kInclude:
    case PragmaForm::kFail:
      break;
  }
  Token at;
  std::u16string text;
  if (!ExpectPunct('(')) return false;
  at = Peek();
  if (!ParseStrings(text)) return false;
  if (pragma->form == PragmaForm::kFail) return ParseFail(at, text);
  if (!ExpectPunct(')')) return false;
  src_->errors.Guard(false);  // a whole pragma: the file is MOF
  if (pragma->form == PragmaForm::kNamespace) return SetNamespace(at, text);
  if (pragma->form == PragmaForm::kInclude) return Include(at, text);
  return true;
}

// The rest of #pragma fail("Operation", code) after the operation; the last
// one for an operation counts.
bool Parser::ParseFail(const Token& at, const std::u16string& operation) {
  const FailableCall* call = Named(kFailableCalls, Utf16ToUtf8(operation));
  if (!call)
    return FailPlain(at, "expected an operation: " + OneOf(kFailableCalls));
  HRESULT code = 0;
  if (!ExpectPunct(',')) return false;
  Token codeAt = Peek();
  if (!ParseCode(code)) return false;
  // A call that succeeds hands out an object, so an injected success
  // would hand out none where the caller may rely on one.
  if (!FAILED(code))
    return FailPlain(codeAt,
                     "expected a failure code (0x80000000 to 0xFFFFFFFF) to "
                     "inject");
  if (!ExpectPunct(')')) return false;
  failures_.*(call->slot) = code;
  return true;
}

// #pragma deleteclass("Class", FAIL|NOFAIL), #pragma deleteinstance("Path",
// FAIL|NOFAIL): FAIL refuses the file when there is nothing to delete.
bool Parser::ParseDelete(bool instance) {
  std::u16string text;
  Token flag;
  if (!ExpectPunct('(')) return false;
  Token at = Peek();
  if (!ParseStrings(text) || !ExpectPunct(',') ||
      !ExpectName("FAIL or NOFAIL", flag))
    return false;
  bool mustExist = SameName(flag.text, "fail");
  if (!mustExist && !SameName(flag.text, "nofail"))
    return Fail(flag, "expected FAIL or NOFAIL, found '" +
                          std::string(flag.text) + "'");
  if (!ExpectPunct(')')) return false;
  src_->errors.Guard(false);
  std::string target = Utf16ToUtf8(text);
  if (!instance) {
    if (!provider_->DeleteClass(target) && mustExist)
      return Fail(at, "no class " + target + " to delete");
    return true;
  }
  ParsedPath path;
  if (!ParseObjectPath(target, path))
    return Fail(at, "expected an object path \"Class.Key=value\"");
  const ClassDef* cls = provider_->FindClass(path.className);
  if ((!cls || provider_->DeleteInstances(*cls, path) == 0) && mustExist)
    return Fail(at, "no instance " + target + " to delete");
  return true;
}

// #pragma classflags("flag", ...), each string one flag or several
// separated by commas: createonly refuses a class declared again, updateonly
// a class not declared yet.
bool Parser::ParseClassFlags() {
  if (!ExpectPunct('(')) return false;
  createOnly_ = updateOnly_ = false;
  Token first = Peek();
  for (;;) {
    Token at = Peek();
    std::u16string text;
    if (!ParseStrings(text)) return false;
    std::string flags = Utf16ToUtf8(text);
    for (size_t start = 0; start <= flags.size();) {
      size_t end = flags.find(',', start);
      if (end == std::string::npos) end = flags.size();
      std::string flag = flags.substr(start, end - start);
      while (!flag.empty() && IsSpace(flag.back())) flag.pop_back();
      while (!flag.empty() && IsSpace(flag.front())) flag.erase(0, 1);
      const ClassFlagName* known = Named(kClassFlags, flag);
      if (!known)
        return Fail(at, "expected class flags " + OneOf(kClassFlags) +
                            ", found \"" + flag + "\"");
      if (known->flag == ClassFlag::kCreateOnly) createOnly_ = true;
      if (known->flag == ClassFlag::kUpdateOnly) updateOnly_ = true;
      start = end + 1;
    }
    if (!IsPunct(',')) break;
    Take();
  }
  if (createOnly_ && updateOnly_)
    return Fail(first,
                "class flags createonly and updateonly exclude each "
                "other");
  return ExpectPunct(')');
}

// #pragma include("file"): the file is read in place of the pragma, named
// relative to the file that includes it; '\' stands for '/'.
bool Parser::Include(const Token& at, const std::u16string& name) {
  std::string path = Utf16ToUtf8(name);
  for (char& c : path)
    if (c == '\\') c = '/';
  if (path.empty()) return Fail(at, "expected a file name to include");
  if (path[0] != '/') {
    size_t slash = src_->fileName.rfind('/');
    if (slash != std::string::npos)
      path = src_->fileName.substr(0, slash + 1) + path;
  }
  if (reading_.size() > static_cast<size_t>(kMaxIncludeDepth))
    return Fail(at, "included files nested more than " +
                        std::to_string(kMaxIncludeDepth) + " deep");
  if (++includes_ > kMaxIncludes)
    return Fail(at, "more than " + std::to_string(kMaxIncludes) +
                        " files included, counting each inclusion");
  std::string bytes, why;
  FileId id;
  size_t room = kMaxRepositoryBytes - std::min(bytesRead_, kMaxRepositoryBytes);
  if (!ReadRegularFile(path, room, bytes, id, why))
    return Fail(at, "cannot include " + why);
  for (const FileId& open : reading_)
    if (open == id)
      return Fail(at, "cannot include " + path + ": it is already being read");
  return ReadSource(bytes, path, &id);
}

bool Parser::SetNamespace(const Token& at, const std::u16string& text) {
  std::string path;
  if (!ResolveNamespace(Utf16ToUtf8(text), namespace_, &path))
    return Fail(at, "expected a namespace path such as \"root\\\\cimv2\"");
  MofNamespace* provider = NamespaceAt(path);
  if (!provider) return false;
  provider_ = provider;
  namespace_ = path;
  return true;
}

// The namespace at `path`, made with the system classes when new.
MofNamespace* Parser::NamespaceAt(const std::string& path) {
  auto [it, added] = namespaces_.emplace(LowerName(path), nullptr);
  if (added) {
    it->second = std::make_unique<MofNamespace>();
    it->second->SetSystemClasses(&SystemClasses());
  }
  return it->second.get();
}

}  // namespace posix_wmi
