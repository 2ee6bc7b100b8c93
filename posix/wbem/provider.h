// What the stand-in WMI service knows of a namespace: class definitions,
// instances and their values, and the interface every source of instances
// (a MOF repository file, or this machine's live facts) implements.
// Never compiled on Windows.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
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

struct ClassDef {
  std::string name;        // spelled as declared
  std::string superclass;  // empty for a root class
  // Every property, inherited ones first, in declaration order.
  std::vector<PropertyDef> properties;
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
