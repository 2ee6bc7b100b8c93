// The MOF reader's parser, shared by its four sources: mof_parser.cpp (the
// statements, qualifiers and classes), mof_values.cpp (instances, values and
// aliases), mof_pragmas.cpp (pragmas, included files and namespaces) and
// mof_system_classes.cpp (the classes every namespace starts with).
// Recursive descent over the tokens of mof_lexer.h, building the namespaces
// as it goes. Only the reader's own files include this. Never compiled on
// Windows.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "posix/wbem/mof.h"
#include "posix/wbem/mof_lexer.h"
#include "posix/wbem/mof_namespace.h"

namespace posix_wmi {

// Deeper nesting of embedded instances, object paths or included files is
// refused, so that a hostile file cannot exhaust the stack.
constexpr int kMaxDepth = 32;
constexpr int kMaxIncludeDepth = 64;
// The most #pragma include a repository may hold: a file that includes
// another twice, which includes the next twice, would otherwise read its
// files an exponential number of times before the byte budget refuses it.
constexpr size_t kMaxIncludes = 4096;

// The most bytes a repository may hold, its included files counted.
constexpr size_t kMaxRepositoryBytes = size_t{256} << 20;

// A file as the system knows it, so that an include cycle is found whatever
// path names the file.
struct FileId {
  uint64_t device = 0;
  uint64_t inode = 0;
  bool operator==(const FileId& o) const {
    return device == o.device && inode == o.inode;
  }
};

// Reads the regular file at `path`, of at most `limit` bytes, following
// links (the path is the user's own choice). False with "<path>: <reason>"
// in `error` for anything else: a FIFO or device is refused without
// waiting for it.
bool ReadRegularFile(const std::string& path, size_t limit, std::string& bytes,
                     FileId& id, std::string& error);

class Parser {
 public:
  Parser();
  ~Parser();
  Parser(const Parser&) = delete;
  Parser& operator=(const Parser&) = delete;

  // Reads one file of the repository as a compilation of its own: it
  // starts in root\cimv2 with no class flags and no aliases. `id` is null
  // for text that is no file. False with error() set.
  bool ReadFile(std::string_view bytes, const std::string& fileName,
                const FileId* id);
  // Hands over what every ReadFile read.
  void Finish(MofRepository& out);
  const std::string& error() const { return error_; }
  // Bytes read so far, included files counted.
  size_t bytesRead() const { return bytesRead_; }

 private:
  // One file being read.
  struct Source {
    explicit Source(std::string_view name) : fileName(name), errors(fileName) {}
    std::string fileName;
    MofErrors errors;  // refers to fileName, declared before it
    std::string storage;
    std::optional<MofLexer> lexer;
  };
  // What the reader takes from a qualifier list.
  struct Qualifiers {
    std::optional<HRESULT> failNext;
    std::optional<HRESULT> failBeginEnumeration;
    int line = 0, col = 0;  // of the first of those two, for refusals
    bool key = false;
    bool embedded = false;  // EmbeddedInstance or EmbeddedObject
  };
  struct Alias {
    std::shared_ptr<Instance> inst;
    bool complete = false;
    int nesting = 0;  // levels of embedded instances, itself included
  };
  // An alias used as a reference before its object path can be known.
  struct Pending {
    std::shared_ptr<Instance> owner;
    MofNamespace* provider;
    std::string property;
    size_t item;
    std::string alias;  // lower case, without '$'
    std::string where;  // "<file>:<line>:<column>"
    enum class State { kWaiting, kResolving, kDone };
    State state = State::kWaiting;
  };

  // ---- mof_parser.cpp
  bool ReadSource(std::string_view bytes, const std::string& fileName,
                  const FileId* id);
  bool ParseStatements();
  bool FailAt(int line, int col, const std::string& message);
  bool Fail(const Token& at, const std::string& message);
  // For a message that quotes nothing of the file, even a guarded one.
  bool FailPlain(const Token& at, const std::string& message);
  std::string Where(const Token& at) const;
  std::string Found(const Token& t) const;
  bool Expected(const std::string& what, const std::string& about = {});
  const Token& Peek();
  Token Take();
  bool IsPunct(char c);
  bool IsKeyword(std::string_view word);
  bool ExpectPunct(char c);
  bool ExpectKeyword(const char* word);
  bool ExpectName(const char* what, Token& out);
  bool ParseStrings(std::u16string& out);
  bool ParseCode(HRESULT& code);
  bool ParseQualifiers(Qualifiers& q);
  bool SkipQualifierValue();
  bool ParseQualifierDeclaration();
  bool ParseClass();
  bool ParseType(const Qualifiers& q, bool method, PropertyDef& type,
                 Token* name = nullptr, const char* what = nullptr);
  bool ParseArraySuffix(PropertyDef& prop);
  bool ParseMethodRest(const std::string& cls, const Token& name);

  // ---- mof_values.cpp
  bool ParseInstance(const Qualifiers& q, int depth,
                     std::shared_ptr<Instance>& out);
  bool ParseInstanceProperty(Instance& inst, std::vector<bool>& set,
                             size_t& next, int depth);
  bool ParseOpenValue(const ClassDef& cls, const Token& name, size_t& index,
                      CimValue& value, int depth);
  bool ParseValue(const PropertyDef& prop, CimValue& out, int depth);
  bool ParseArrayItems(const PropertyDef& prop, CimValue& out, int depth);
  bool ParseScalar(const PropertyDef& prop, CimScalar& out, int depth);
  bool ParseInteger(const PropertyDef& prop, CimScalar& out);
  bool ParseAlias(const PropertyDef& prop, CimScalar& out, size_t item);
  bool Complete(const std::shared_ptr<Instance>& inst, bool listed,
                const Token& at);
  bool ResolveAliases();
  bool Resolve(size_t k, int depth);

  // ---- mof_pragmas.cpp
  bool ParsePragma();
  bool ParseFail(const Token& at, const std::u16string& operation);
  bool ParseDelete(bool instance);
  bool ParseClassFlags();
  bool Include(const Token& at, const std::u16string& name);
  bool SetNamespace(const Token& at, const std::u16string& path);
  MofNamespace* NamespaceAt(const std::string& path);

  // ---- mof_system_classes.cpp
  static const std::vector<MofNamespace::Declaration>& SystemClasses();

  std::string error_;
  Source* src_ = nullptr;
  std::vector<FileId> reading_;  // the files being read, outermost first
  size_t bytesRead_ = 0;
  size_t includes_ = 0;   // #pragma include read, in every file
  size_t pathChars_ = 0;  // characters of object paths made from aliases

  std::map<std::string, std::unique_ptr<MofNamespace>> namespaces_;  // by key
  MofNamespace* provider_ = nullptr;  // the current namespace's
  std::string namespace_;             // its path, as first written
  InjectedFailures failures_;

  // One compilation's: the class flags, the aliases and their uses.
  bool createOnly_ = false;
  bool updateOnly_ = false;
  std::unordered_map<std::string, Alias> aliases_;  // lower case, no '$'
  std::vector<Pending> pending_;
  std::unordered_map<const Instance*, std::vector<size_t>> pendingOf_;
  int childNesting_ = 0;  // deepest embedding in the instance being read
  // Where ParseClass keeps a copy of each declaration, when set.
  std::vector<MofNamespace::Declaration>* recording_ = nullptr;
  std::shared_ptr<Instance> valueOwner_;  // whose values are being read
  size_t item_ = 0;  // the array element being read, 0 for a scalar
};

}  // namespace posix_wmi
