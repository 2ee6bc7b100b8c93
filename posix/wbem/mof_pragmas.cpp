// The MOF reader's pragmas: the WMI compiler's (include, namespace, locale,
// instancelocale, amendment, autorecover, classflags, instanceflags,
// deleteclass, deleteinstance) and the stand-in's own, fail, which injects a
// failure into a platform call.
#include <algorithm>
#include <utility>

#include "posix/wbem/mof_parser.h"
#include "posix/wbem/names.h"
#include "text/utf.h"

namespace posix_wmi {
namespace {

// The classes WMI holds in every namespace before any MOF is read, as far
// as a MOF file derives from them or makes instances of them.
constexpr char kSystemClasses[] = R"(
class __SystemClass {};
class __Provider : __SystemClass { [key] string Name; };
class __Win32Provider : __Provider {
  string ClientLoadableCLSID; string CLSID; sint32 Concurrency;
  string DefaultMachineName; boolean Enabled; string HostingModel;
  sint32 ImpersonationLevel = 0; sint32 InitializationReentrancy;
  datetime InitializationTimeoutInterval; boolean InitializeAsAdminFirst;
  datetime OperationTimeoutInterval; boolean PerLocaleInitialization = FALSE;
  boolean PerUserInitialization = FALSE; boolean Pure = TRUE;
  string SecurityDescriptor; boolean SupportsExplicitShutdown;
  boolean SupportsExtendedStatus; boolean SupportsQuotas;
  boolean SupportsSendStatus; boolean SupportsShutdown;
  boolean SupportsThrottling; datetime UnloadTimeout; uint32 Version;
};
class __ProviderRegistration : __SystemClass { __Provider ref provider; };
class __ObjectProviderRegistration : __ProviderRegistration {
  sint32 InteractionType = 0; string QuerySupportLevels[];
  boolean SupportsBatching; boolean SupportsDelete = FALSE;
  boolean SupportsEnumeration = FALSE; boolean SupportsGet = FALSE;
  boolean SupportsPut = FALSE; boolean SupportsTransactions;
  string ExtendedQuerySupport;
};
class __InstanceProviderRegistration : __ObjectProviderRegistration {
  [key] __Provider ref provider;
};
class __ClassProviderRegistration : __ObjectProviderRegistration {
  [key] __Provider ref provider; datetime CacheRefreshInterval;
  sint32 PerUserSchema; boolean ReloadOnDemand; string ResultSetQueries[];
  string ReferencedSetQueries[]; string UnsupportedQueries[];
};
class __MethodProviderRegistration : __ProviderRegistration {
  [key] __Provider ref provider;
};
class __PropertyProviderRegistration : __ProviderRegistration {
  [key] __Provider ref provider; boolean SupportsGet; boolean SupportsPut;
};
class __EventProviderRegistration : __ProviderRegistration {
  [key] __Provider ref provider; string EventQueryList[];
};
class __EventConsumerProviderRegistration : __ProviderRegistration {
  [key] __Provider ref provider; string ConsumerClassNames[];
};
class __Namespace : __SystemClass { [key] string Name; };
class __IndicationRelated : __SystemClass {};
class __EventFilter : __IndicationRelated {
  uint8 CreatorSID[]; string EventAccess; string EventNamespace;
  [key] string Name; string Query; string QueryLanguage;
};
class __EventConsumer : __IndicationRelated {
  uint8 CreatorSID[]; string MachineName; uint32 MaximumQueueSize;
};
class __FilterToConsumerBinding : __IndicationRelated {
  [key] __EventConsumer ref Consumer; uint8 CreatorSID[];
  boolean DeliverSynchronously = FALSE; uint32 DeliveryQoS;
  [key] __EventFilter ref Filter; boolean MaintainSecurityContext = FALSE;
  boolean SlowDownProviders = FALSE;
};
class __Event : __IndicationRelated {
  uint8 SECURITY_DESCRIPTOR[]; uint64 TIME_CREATED;
};
class __ExtrinsicEvent : __Event {};
class __InstanceOperationEvent : __Event { object TargetInstance; };
class __InstanceCreationEvent : __InstanceOperationEvent {};
class __InstanceDeletionEvent : __InstanceOperationEvent {};
class __InstanceModificationEvent : __InstanceOperationEvent {
  object PreviousInstance;
};
class __EventGenerator : __IndicationRelated {};
class __TimerInstruction : __EventGenerator {
  boolean SkipIfPassed = FALSE; [key] string TimerId;
};
class __IntervalTimerInstruction : __TimerInstruction {
  uint32 IntervalBetweenEvents;
};
class __AbsoluteTimerInstruction : __TimerInstruction {
  datetime EventDateTime;
};
class __TimerEvent : __Event { uint32 NumFiring; string TimerId; };
)";

}  // namespace

bool Parser::ParsePragma() {
  Take();  // '#'
  Token name;
  if (!ExpectKeyword("pragma") || !ExpectName("a pragma name", name))
    return false;
  auto is = [&](const char* word) { return SameName(name.text, word); };
  if (is("autorecover")) return true;
  if (is("deleteclass") || is("deleteinstance")) return ParseDelete(name);
  if (is("classflags")) return ParseClassFlags();
  if (!is("namespace") && !is("include") && !is("fail") && !is("locale") &&
      !is("instancelocale") && !is("amendment") && !is("instanceflags"))
    return Fail(name,
                "expected pragma amendment, autorecover, classflags, "
                "deleteclass, deleteinstance, fail, include, instanceflags, "
                "instancelocale, locale or namespace, found '" +
                    std::string(name.text) + "'");
  Token at;
  std::u16string text;
  if (!ExpectPunct('(')) return false;
  at = Peek();
  if (!ParseStrings(text)) return false;
  if (is("fail")) {
    std::string op = Utf16ToUtf8(text);
    std::optional<HRESULT>* slot = nullptr;
    if (SameName(op, "OleInitialize"))
      slot = &failures_.oleInitialize;
    else if (SameName(op, "CoInitializeSecurity"))
      slot = &failures_.coInitializeSecurity;
    else if (SameName(op, "CoCreateInstance"))
      slot = &failures_.coCreateInstance;
    else if (SameName(op, "ConnectServer"))
      slot = &failures_.connectServer;
    else if (SameName(op, "ExecQuery"))
      slot = &failures_.execQuery;
    else
      return Fail(at,
                  "expected an operation: OleInitialize, CoInitializeSecurity,"
                  " CoCreateInstance, ConnectServer or ExecQuery");
    HRESULT code = 0;
    if (!ExpectPunct(',')) return false;
    Token codeAt = Peek();
    if (!ParseCode(code)) return false;
    // A call that succeeds hands out an object, so an injected success
    // would hand out none where the caller may rely on one.
    if (!FAILED(code))
      return Fail(codeAt,
                  "expected a failure code (0x80000000 to 0xFFFFFFFF) to "
                  "inject");
    if (!ExpectPunct(')')) return false;
    *slot = code;
    return true;
  }
  if (!ExpectPunct(')')) return false;
  if (is("namespace")) return SetNamespace(at, text);
  if (is("include")) return Include(at, text);
  return true;  // locale, instancelocale, amendment, instanceflags
}

// #pragma deleteclass("Class", FAIL|NOFAIL), #pragma deleteinstance("Path",
// FAIL|NOFAIL): FAIL refuses the file when there is nothing to delete.
bool Parser::ParseDelete(const Token& name) {
  bool instance = SameName(name.text, "deleteinstance");
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
// a class not declared yet; safeupdate and forceupdate are what an update
// does here anyway.
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
      if (SameName(flag, "createonly"))
        createOnly_ = true;
      else if (SameName(flag, "updateonly"))
        updateOnly_ = true;
      else if (!SameName(flag, "safeupdate") && !SameName(flag, "forceupdate"))
        return Fail(at,
                    "expected class flags createonly, updateonly, "
                    "safeupdate or forceupdate, found \"" +
                        flag + "\"");
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
  MofProvider* provider = Namespace(path);
  if (!provider) return false;
  provider_ = provider;
  namespace_ = path;
  return true;
}

// The system classes' declarations, read once per process.
const std::vector<MofProvider::Declaration>& Parser::SystemClasses() {
  static const std::vector<MofProvider::Declaration> classes = [] {
    std::vector<MofProvider::Declaration> out;
    Parser parser;
    MofProvider scratch;
    parser.provider_ = &scratch;
    parser.recording_ = &out;
    parser.ReadSource(kSystemClasses, "<system classes>", nullptr);
    return out;
  }();
  return classes;
}

// The repository of a namespace, made with the system classes when new.
MofProvider* Parser::Namespace(const std::string& path) {
  auto [it, added] = namespaces_.emplace(LowerName(path), nullptr);
  if (added) {
    it->second = std::make_unique<MofProvider>();
    std::string ignored;  // the system classes are well formed
    for (const MofProvider::Declaration& decl : SystemClasses())
      it->second->Declare(decl, ignored, nullptr);
  }
  return it->second.get();
}

}  // namespace posix_wmi
