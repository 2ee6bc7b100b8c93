// What the stand-in WMI service tells about a class beyond its instances'
// values: the class object that GetObject hands out, Get of a single
// property or of __CLASS, and the qualifier sets that carry "key" and
// "CIMTYPE". A capture of a machine reads a class's definition this way.
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "posix/wbem/names.h"
#include "posix/wbem/objects.h"
#include "wmi/cimtype.h"

const IID IID_IWbemQualifierSet = {
    0xDC12A680,
    0x737F,
    0x11CF,
    {0x88, 0x4D, 0x00, 0xAA, 0x00, 0x4B, 0x2E, 0x24}};

namespace posix_wmi {
namespace {

constexpr LONG WBEM_FLAVOR_ORIGIN_LOCAL = 0x0;
constexpr LONG WBEM_FLAVOR_ORIGIN_SYSTEM = 0x40;

// The CIMTYPE qualifier's text: the scalar type's MOF name, with the class
// a reference or an embedded object is bound to when one is named.
std::string CimTypeText(const PropertyDef& p) {
  const CimTypeInfo* info = FindCimType(static_cast<CIMTYPE>(p.type));
  std::string text = p.type == CimType::kReference ? "ref"
                     : info && info->keyword       ? info->keyword
                                                   : "?";
  if ((p.type == CimType::kReference || p.type == CimType::kObject) &&
      !p.refClass.empty())
    text += ":" + p.refClass;
  return text;
}

class QualifierSet
    : public ComObject<IWbemQualifierSet, IID_IWbemQualifierSet> {
 public:
  // `prop` belongs to a class that `ns` keeps alive.
  QualifierSet(std::shared_ptr<Namespace> ns, const PropertyDef* prop)
      : ns_(std::move(ns)), prop_(prop) {}

  HRESULT Get(LPCWSTR wszName, LONG lFlags, VARIANT* pVal,
              LONG* plFlavor) override {
    if (!wszName || lFlags != 0) return WBEM_E_INVALID_PARAMETER;
    std::string name = ToUtf8(wszName);
    VARIANT value;
    VariantInit(&value);
    LONG flavor = WBEM_FLAVOR_ORIGIN_LOCAL;
    if (SameName(name, "key") && prop_->key) {
      value.vt = VT_BOOL;
      value.boolVal = VARIANT_TRUE;
    } else if (SameName(name, "CIMTYPE")) {
      value.bstrVal = ToBstr(CimTypeText(*prop_));
      if (!value.bstrVal) return WBEM_E_OUT_OF_MEMORY;
      value.vt = VT_BSTR;
      flavor = WBEM_FLAVOR_ORIGIN_SYSTEM;
    } else {
      return WBEM_E_NOT_FOUND;
    }
    if (pVal)
      *pVal = value;
    else
      VariantClear(&value);
    if (plFlavor) *plFlavor = flavor;
    return WBEM_S_NO_ERROR;
  }

 private:
  std::shared_ptr<Namespace> ns_;
  const PropertyDef* prop_;
};

// The class name of an object path "[namespace:]Class", or the failure the
// path earns.
HRESULT ClassOfPath(const std::string& path, std::string& className) {
  std::string rest = path;
  size_t colon = rest.find(':');
  if (colon != std::string::npos) {
    if (!IsRootCimv2(rest.substr(0, colon))) return WBEM_E_INVALID_NAMESPACE;
    rest.erase(0, colon + 1);
  }
  if (rest.empty()) return WBEM_E_NOT_SUPPORTED;
  if (!IsNameStart(rest[0])) return WBEM_E_INVALID_OBJECT_PATH;
  size_t end = 1;
  while (end < rest.size() && IsNameChar(rest[end])) ++end;
  if (end < rest.size())
    return rest[end] == '.' || rest[end] == '=' ? WBEM_E_NOT_SUPPORTED
                                                : WBEM_E_INVALID_OBJECT_PATH;
  className = rest;
  return S_OK;
}

}  // namespace

HRESULT GetClassObject(const std::shared_ptr<Namespace>& ns,
                       const BSTR strObjectPath, IWbemClassObject** ppObject) {
  if (!ppObject) return WBEM_E_INVALID_PARAMETER;
  *ppObject = nullptr;
  // A null or empty path would ask for a new, empty class.
  if (!strObjectPath) return WBEM_E_NOT_SUPPORTED;
  std::string className;
  HRESULT hr = ClassOfPath(ToUtf8(strObjectPath), className);
  if (FAILED(hr)) return hr;
  const ClassDef* cls = ns->provider->FindClass(className);
  if (!cls) return WBEM_E_NOT_FOUND;
  auto definition = std::make_shared<Instance>();
  definition->cls = cls;
  definition->values.resize(cls->properties.size());
  std::vector<size_t> all(cls->properties.size());
  for (size_t i = 0; i < all.size(); ++i) all[i] = i;
  *ppObject = NewClassObject(ns, cls, std::move(all), std::move(definition));
  return WBEM_S_NO_ERROR;
}

HRESULT GetObjectProperty(const std::shared_ptr<Namespace>& ns,
                          const ClassDef& cls,
                          const std::vector<size_t>& selected,
                          const Instance& inst, LPCWSTR wszName, LONG lFlags,
                          VARIANT* pVal, CIMTYPE* pType, LONG* plFlavor) {
  if (!wszName || lFlags != 0) return WBEM_E_INVALID_PARAMETER;
  if (pVal) VariantInit(pVal);
  std::string name = ToUtf8(wszName);
  if (SameName(name, "__CLASS")) {
    if (pVal) {
      pVal->bstrVal = ToBstr(inst.cls->name);
      if (!pVal->bstrVal) return WBEM_E_OUT_OF_MEMORY;
      pVal->vt = VT_BSTR;
    }
    if (pType) *pType = CIM_STRING;
    if (plFlavor) *plFlavor = WBEM_FLAVOR_ORIGIN_SYSTEM;
    return WBEM_S_NO_ERROR;
  }
  for (size_t index : selected) {
    const PropertyDef& prop = cls.properties[index];
    if (!SameName(prop.name, name)) continue;
    if (pVal) {
      static const CimValue kNull;
      const CimValue& value =
          index < inst.values.size() ? inst.values[index] : kNull;
      HRESULT hr = ToVariant(ns, prop, value, pVal);
      if (FAILED(hr)) return hr;
    }
    if (pType) *pType = CimTypeOf(prop);
    if (plFlavor) *plFlavor = WBEM_FLAVOR_ORIGIN_LOCAL;
    return WBEM_S_NO_ERROR;
  }
  return WBEM_E_NOT_FOUND;
}

HRESULT NewPropertyQualifierSet(std::shared_ptr<Namespace> ns,
                                const ClassDef& cls, LPCWSTR wszProperty,
                                IWbemQualifierSet** ppQualSet) {
  if (!ppQualSet) return WBEM_E_INVALID_PARAMETER;
  *ppQualSet = nullptr;
  if (!wszProperty) return WBEM_E_INVALID_PARAMETER;
  std::string name = ToUtf8(wszProperty);
  for (const PropertyDef& prop : cls.properties) {
    if (!SameName(prop.name, name)) continue;
    *ppQualSet = new QualifierSet(std::move(ns), &prop);
    return WBEM_S_NO_ERROR;
  }
  return WBEM_E_NOT_FOUND;
}

}  // namespace posix_wmi
