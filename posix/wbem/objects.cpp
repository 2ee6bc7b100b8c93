// The objects a query of the stand-in WMI service hands out: the
// enumerator of the result and each result object's property walk, ending
// and failing as WMI's do.
#include "posix/wbem/objects.h"

#include <memory>
#include <utility>
#include <vector>

#include "text/utf.h"

namespace posix_wmi {
namespace {

class ClassObject : public ComObject<IWbemClassObject, IID_IWbemClassObject> {
 public:
  // Presents `selected` properties (indices into cls.properties) of inst,
  // which is of cls or, for a class object, of a class derived from it.
  ClassObject(std::shared_ptr<Namespace> ns, const ClassDef* cls,
              std::vector<size_t> selected,
              std::shared_ptr<const Instance> inst)
      : ns_(std::move(ns)),
        cls_(cls),
        selected_(std::move(selected)),
        inst_(std::move(inst)) {}

  HRESULT Get(LPCWSTR wszName, LONG lFlags, VARIANT* pVal, CIMTYPE* pType,
              LONG* plFlavor) override {
    return GetObjectProperty(ns_, *cls_, selected_, *inst_, wszName, lFlags,
                             pVal, pType, plFlavor);
  }

  HRESULT GetPropertyQualifierSet(LPCWSTR wszProperty,
                                  IWbemQualifierSet** ppQualSet) override {
    return NewPropertyQualifierSet(ns_, *cls_, wszProperty, ppQualSet);
  }

  HRESULT BeginEnumeration(LONG lEnumFlags) override {
    if (inst_->failBeginEnumeration) return *inst_->failBeginEnumeration;
    // The service has no system properties, so asking for them alone gives
    // an empty walk and every other accepted flag gives all properties.
    if (lEnumFlags == WBEM_FLAG_SYSTEM_ONLY) {
      next_ = selected_.size();
    } else if (lEnumFlags == 0 || lEnumFlags == WBEM_FLAG_NONSYSTEM_ONLY) {
      next_ = 0;
    } else {
      return WBEM_E_INVALID_PARAMETER;
    }
    walking_ = true;
    return WBEM_S_NO_ERROR;
  }

  HRESULT Next(LONG lFlags, BSTR* strName, VARIANT* pVal, CIMTYPE* pType,
               LONG* plFlavor) override {
    if (lFlags != 0) return WBEM_E_INVALID_PARAMETER;
    if (!walking_) return WBEM_E_UNEXPECTED;
    if (strName) *strName = nullptr;
    if (pVal) VariantInit(pVal);
    if (next_ >= selected_.size()) return WBEM_S_NO_MORE_DATA;
    size_t index = selected_[next_++];
    if (index < inst_->failPropertyNext.size() &&
        inst_->failPropertyNext[index])
      return *inst_->failPropertyNext[index];
    const PropertyDef& prop = cls_->properties[index];
    if (pVal) {
      static const CimValue kNull;
      const CimValue& value =
          index < inst_->values.size() ? inst_->values[index] : kNull;
      HRESULT hr = ToVariant(ns_, prop, value, pVal);
      if (FAILED(hr)) return hr;
    }
    if (strName) {
      *strName = ToBstr(prop.name);
      if (!*strName) {
        if (pVal) VariantClear(pVal);
        return WBEM_E_OUT_OF_MEMORY;
      }
    }
    if (pType) *pType = CimTypeOf(prop);
    if (plFlavor) *plFlavor = 0;  // WBEM_FLAVOR_ORIGIN_LOCAL
    return WBEM_S_NO_ERROR;
  }

  HRESULT EndEnumeration() override {
    walking_ = false;
    return WBEM_S_NO_ERROR;
  }

 private:
  std::shared_ptr<Namespace> ns_;
  const ClassDef* cls_;
  std::vector<size_t> selected_;
  std::shared_ptr<const Instance> inst_;
  bool walking_ = false;
  size_t next_ = 0;
};

class Enumerator
    : public ComObject<IEnumWbemClassObject, IID_IEnumWbemClassObject> {
 public:
  Enumerator(std::shared_ptr<Namespace> ns, const ClassDef* cls,
             Selection selection,
             std::vector<std::shared_ptr<const Instance>> instances)
      : ns_(std::move(ns)),
        cls_(cls),
        selection_(std::move(selection)),
        instances_(std::move(instances)) {}

  // An instance marked FailNext makes the call that reaches it fail with no
  // object; the walk then goes on after it. A call that already holds
  // objects stops short of it instead, so the next call reports it.
  HRESULT Next(LONG lTimeout, ULONG uCount, IWbemClassObject** apObjects,
               ULONG* puReturned) override {
    if (!puReturned || !apObjects || uCount == 0 ||
        (lTimeout < 0 && lTimeout != WBEM_INFINITE))
      return WBEM_E_INVALID_PARAMETER;
    ULONG returned = 0;
    while (returned < uCount && next_ < instances_.size()) {
      const auto& inst = instances_[next_];
      if (inst->failNext) {
        if (returned > 0) break;
        ++next_;
        *puReturned = 0;
        return *inst->failNext;
      }
      const ClassDef* actual = inst->cls ? inst->cls : cls_;
      apObjects[returned++] =
          new ClassObject(ns_, actual, SelectedFor(*actual), inst);
      ++next_;
    }
    *puReturned = returned;
    return returned == uCount ? WBEM_S_NO_ERROR : WBEM_S_FALSE;
  }

 private:
  // Each instance presents the selection as its own class has it; a query
  // meets few classes, so each is worked out once.
  const std::vector<size_t>& SelectedFor(const ClassDef& actual) {
    for (const auto& entry : byClass_)
      if (entry.first == &actual) return entry.second;
    byClass_.emplace_back(&actual, SelectedOf(*cls_, selection_, actual));
    return byClass_.back().second;
  }

  std::shared_ptr<Namespace> ns_;
  const ClassDef* cls_;
  Selection selection_;
  std::vector<std::shared_ptr<const Instance>> instances_;
  std::vector<std::pair<const ClassDef*, std::vector<size_t>>> byClass_;
  size_t next_ = 0;
};

}  // namespace

IWbemClassObject* NewClassObject(std::shared_ptr<Namespace> ns,
                                 const ClassDef* cls,
                                 std::vector<size_t> selected,
                                 std::shared_ptr<const Instance> inst) {
  return new ClassObject(std::move(ns), cls, std::move(selected),
                         std::move(inst));
}

IEnumWbemClassObject* NewEnumerator(
    std::shared_ptr<Namespace> ns, const ClassDef* cls, Selection selection,
    std::vector<std::shared_ptr<const Instance>> instances) {
  return new Enumerator(std::move(ns), cls, std::move(selection),
                        std::move(instances));
}

std::string ToUtf8(const OLECHAR* s) {
  if (!s) return {};
  return Utf16ToUtf8(std::u16string_view(s));
}

BSTR ToBstr(const std::string& utf8) {
  std::u16string wide = Utf8ToUtf16(utf8);
  return SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
}

}  // namespace posix_wmi
