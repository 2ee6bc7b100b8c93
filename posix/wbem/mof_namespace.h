// The MOF reader's namespaces: the classes and instances of one namespace
// read so far, as the Provider the stand-in WMI service answers from, and
// what the reader knows of CIM types and object paths. Never compiled on
// Windows.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "posix/wbem/provider.h"

namespace posix_wmi {

struct ParsedPath;

class MofNamespace : public Provider {
 public:
  static constexpr size_t npos = SIZE_MAX;

  MofNamespace();
  ~MofNamespace() override;
  MofNamespace(const MofNamespace&) = delete;
  MofNamespace& operator=(const MofNamespace&) = delete;

  const ClassDef* FindClass(std::string_view name) const override;
  HRESULT Instances(const ClassDef& cls, const Selection& sel,
                    std::vector<std::shared_ptr<const Instance>>& out) override;

  // A class as one declaration writes it.
  struct Declaration {
    std::string name;
    std::string superclass;  // empty for a root class
    // Its own properties, overrides of inherited ones included, in order.
    std::vector<PropertyDef> properties;
    // Parallel to properties; none where no default is written, so that an
    // override keeps the inherited default.
    std::vector<std::optional<CimValue>> defaults;
  };

  // The classes every namespace holds before anything is read, declared
  // only when a name of one of them is first looked up: a namespace that
  // never uses them costs nothing for them. `classes` outlives the namespace.
  void SetSystemClasses(const std::vector<Declaration>* classes);

  // Declares a class, or updates the class of that name in place: its
  // subclasses and instances follow, values matched by property name. A
  // superclass the namespace does not hold is declared first as an open
  // class with no properties. Null, with `error` set, when the class would
  // derive from itself, declares a property twice (its index into
  // decl.properties then in `duplicate`) or a property that an instance
  // holds a value of would change its type.
  const ClassDef* Declare(Declaration decl, std::string& error,
                          size_t* duplicate);

  // An open class stands for one that was never declared: an unknown
  // superclass, or the class of an instance whose class is unknown. It
  // takes properties as its instances name them.
  const ClassDef* DeclareOpen(std::string_view name);
  bool IsOpen(const ClassDef& cls) const;
  // Appends a property to an open class and returns its index. Until
  // SetType, `typeKnown` false marks the type as a guess (a NULL value).
  size_t AddOpenProperty(const ClassDef& cls, PropertyDef prop, bool typeKnown);
  bool TypeKnown(const ClassDef& cls, size_t index) const;
  void SetType(const ClassDef& cls, size_t index, CimType type, bool isArray);

  // The index into cls.properties of the property of that name (matched
  // without regard to case), or npos.
  size_t PropertyIndex(const ClassDef& cls, std::string_view name) const;
  // The values a new instance of cls starts with: the class defaults, up to
  // the last one that is not NULL.
  std::vector<CimValue> InitialValues(const ClassDef& cls) const;

  // Registers an instance of a class of this namespace: a listed one
  // (answered by Instances, in the order added) or an embedded one (kept
  // in step when its class changes).
  void AddInstance(std::shared_ptr<Instance> inst, bool listed);

  // Removes a class, its subclasses and their listed instances. False when
  // the namespace holds no class of that name.
  bool DeleteClass(std::string_view name);
  // Removes the listed instances of cls and its subclasses that `path`
  // names (its class and key values); returns how many.
  size_t DeleteInstances(const ClassDef& cls, const ParsedPath& path);

  // The object paths of instances may have changed (references filled in).
  void PathsChanged();

  // Ends the reading. An instance's values may stop short of its class's
  // properties; those past the end are NULL.
  void Complete();

 private:
  struct Record;
  Record* RecordOf(const ClassDef& cls) const;
  Record* NewRecord(std::string_view name);
  bool Rebuild(Record* top, std::string& error, size_t* duplicate);
  size_t Build(Record* rec);

  void DeclareSystemClasses();

  const std::vector<Declaration>* system_ = nullptr;  // not yet declared
  std::vector<std::unique_ptr<Record>> records_;
  std::unordered_map<std::string, Record*> byName_;  // lower-case name
  std::unordered_map<const ClassDef*, Record*> byDef_;
  uint64_t nextSeq_ = 0;
};

// "Class.Key=value,..." from the instance's key properties, in order of
// their names as WMI writes them; "Class=@" for a class without keys.
std::u16string ObjectPathOf(const Instance& inst);
// The same with names in lower case, for comparisons.
std::string CanonicalPathOf(const Instance& inst);

// A WMI object path taken apart: the class and its key values, each as
// ObjectPath writes it (text in double quotes; numbers, TRUE, FALSE).
struct ParsedPath {
  std::string className;
  // Lower-case key names in order; one empty name for "Class=value".
  std::vector<std::pair<std::string, std::u16string>> keys;  // none for "=@"
};

// Parses "Class.Key=value,Key2=value", "Class=value" or "Class=@", values in
// single or double quotes, or bare numbers, TRUE and FALSE.
bool ParseObjectPath(std::string_view text, ParsedPath& out);

// The path in the form of CanonicalPathOf, with the key of
// "Class=value" named from cls.
std::string CanonicalPath(const ClassDef& cls, const ParsedPath& path);

// The type a MOF keyword (sint8 .. uint64, real32, real64, boolean, string,
// datetime, char16, object) names, matched without regard to case.
std::optional<CimType> CimTypeNamed(std::string_view keyword);

// The MOF keyword of a type, for messages ("reference" for references).
const char* TypeText(CimType t);

// For integer types (char16 included): the largest magnitudes below and
// above zero. False for every other type.
bool IntegerBounds(CimType t, uint64_t* negMax, uint64_t* posMax);

// Whether an integer type's values are held as int64_t rather than uint64_t.
bool IsSigned(CimType t);

// A CIM datetime: "yyyymmddHHMMSS.mmmmmmsUUU" (s is '+' or '-') or the
// interval "ddddddddHHMMSS.mmmmmm:000"; '*' stands for an unknown digit.
bool IsDatetime(const std::u16string& s);

}  // namespace posix_wmi
