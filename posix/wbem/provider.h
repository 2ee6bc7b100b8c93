// What the stand-in WMI service knows of a namespace: class definitions,
// instances and their values, and the interface every source of instances
// (a MOF repository file, or this machine's live facts) implements.
// Never compiled on Windows.
#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <variant>
#include <vector>

#include "posix/com.h"
#include "posix/wbem/wbemcli.h"

namespace posix_wmi {

// The CIM types by their CIMTYPE codes, so that wmi/cimtype.h's table
// describes them.
enum class CimType : CIMTYPE {
  kSint8 = CIM_SINT8,
  kUint8 = CIM_UINT8,
  kSint16 = CIM_SINT16,
  kUint16 = CIM_UINT16,
  kSint32 = CIM_SINT32,
  kUint32 = CIM_UINT32,
  kSint64 = CIM_SINT64,
  kUint64 = CIM_UINT64,
  kReal32 = CIM_REAL32,
  kReal64 = CIM_REAL64,
  kBoolean = CIM_BOOLEAN,
  kString = CIM_STRING,
  kDatetime = CIM_DATETIME,
  kReference = CIM_REFERENCE,
  kChar16 = CIM_CHAR16,
  kObject = CIM_OBJECT,
};

struct PropertyDef {
  std::string name;  // spelled as declared
  CimType type = CimType::kString;
  bool isArray = false;
  std::string refClass;  // for kReference: the class referred to, if named
  bool key = false;      // declared with the Key qualifier
};

struct Instance;

// One element of a value. Integers of every width are held as int64_t
// (signed types, char16) or uint64_t (unsigned types); reals as double;
// string, datetime and reference as UTF-16; object as an embedded instance.
using CimScalar = std::variant<int64_t, uint64_t, double, bool, std::u16string,
                               std::shared_ptr<const Instance>>;

struct CimValue {
  bool isNull = true;
  std::vector<CimScalar> items;  // one for a scalar, any number for an array
};

// The properties of a class with their defaults, looked up by index or by
// name. Copies share their storage: a copy that grows adds to the shared
// storage when nothing was added after its own last property, and takes a
// storage of its own otherwise, or when it changes a property it shares.
// So a subclass that only adds properties costs what it adds, however many
// it inherits. References to properties stay valid while the list grows.
class PropertyList {
 public:
  static constexpr size_t npos = SIZE_MAX;
  using const_iterator = std::deque<PropertyDef>::const_iterator;

  size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }
  const PropertyDef& operator[](size_t i) const { return store_->items[i]; }
  const PropertyDef& at(size_t i) const;  // std::out_of_range past the end
  const_iterator begin() const;
  const_iterator end() const;

  // Appends a property and its default (NULL when none).
  void push_back(PropertyDef prop, CimValue value = {});
  // The index of the property of that name, matched without regard to
  // case, or npos.
  size_t Find(std::string_view name) const;
  // Replaces property i, or its default.
  void Set(size_t i, PropertyDef prop);
  void SetDefault(size_t i, CimValue value);
  const CimValue& Default(size_t i) const { return store_->defaults[i]; }
  // The defaults up to the last one that is not NULL.
  std::vector<CimValue> LeadingDefaults() const;

 private:
  struct Store {
    std::deque<PropertyDef> items;
    std::deque<CimValue> defaults;                  // parallel to items
    std::unordered_map<std::string, size_t> index;  // lower-case name
  };
  void Own();  // a storage of its own, holding the first size_ properties

  std::shared_ptr<Store> store_;
  size_t size_ = 0;
  size_t withDefaults_ = 0;  // 1 + the index of the last default set
};

struct ClassDef {
  std::string name;        // spelled as declared
  std::string superclass;  // empty for a root class
  // Every property, inherited ones first, in declaration order.
  PropertyList properties;
};

struct Instance {
  const ClassDef* cls = nullptr;
  std::vector<CimValue> values;  // parallel to cls->properties
  // Injected failures (FailNext / FailBeginEnumeration qualifiers).
  std::optional<HRESULT> failNext;
  std::optional<HRESULT> failBeginEnumeration;
  // Parallel to values; empty when no property carries FailNext.
  std::vector<std::optional<HRESULT>> failPropertyNext;
};

// The properties a query asks of each instance it returns. An instance of a
// subclass of the class queried presents its own class's properties, so a
// property listed here is looked for by name in the instance's class.
struct Selection {
  // Indices into the queried class's properties, in its order.
  std::vector<size_t> properties;
  // SELECT *: every property of each instance's own class.
  bool all = false;
};

// The indices into `actual`'s properties that `sel`, made for `queried`,
// asks of an instance of `actual` (queried itself or a class derived from
// it), in `actual`'s order. Defined with the WQL parser (wql.cpp).
std::vector<size_t> SelectedOf(const ClassDef& queried, const Selection& sel,
                               const ClassDef& actual);

class Provider {
 public:
  virtual ~Provider() = default;
  // The class of that name, matched case-insensitively; null when unknown.
  virtual const ClassDef* FindClass(std::string_view name) const = 0;
  // The instances of cls and of the classes derived from it, in the
  // provider's order, each of its own class. Only the properties that `sel`
  // asks of an instance (SelectedOf) need values; a provider may leave the
  // others null and must not spend work on them.
  virtual HRESULT Instances(
      const ClassDef& cls, const Selection& sel,
      std::vector<std::shared_ptr<const Instance>>& out) = 0;
};

// This machine's facts. `fsRoot` is put in front of every path read (/sys,
// /proc, /etc); empty means the real root.
std::unique_ptr<Provider> MakeLiveProvider(const std::string& fsRoot);

}  // namespace posix_wmi
