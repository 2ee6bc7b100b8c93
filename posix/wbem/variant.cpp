// The stand-in WMI service's mapping of CIM values to VARIANTs, as WMI's
// own: small integers widen to VT_I2 or VT_I4, 64-bit integers travel as
// decimal strings, arrays as SAFEARRAYs of the element's VARTYPE.
#include <string>
#include <utility>
#include <vector>

#include "posix/wbem/objects.h"
#include "wmi/cimtype.h"

namespace posix_wmi {
namespace {

VARTYPE VarTypeOf(CimType t) {
  const CimTypeInfo* info = FindCimType(static_cast<CIMTYPE>(t));
  return info ? info->vt : static_cast<VARTYPE>(VT_BSTR);
}

// Integers are kept as int64_t or uint64_t whatever the CIM width; the bit
// pattern is what counts.
bool AsBits(const CimScalar& s, uint64_t* bits) {
  if (auto* i = std::get_if<int64_t>(&s)) {
    *bits = static_cast<uint64_t>(*i);
    return true;
  }
  if (auto* u = std::get_if<uint64_t>(&s)) {
    *bits = *u;
    return true;
  }
  return false;
}

HRESULT ScalarToVariant(const std::shared_ptr<Namespace>& ns, CimType type,
                        const CimScalar& s, VARIANT* v) {
  VariantInit(v);
  uint64_t bits = 0;
  switch (type) {
    case CimType::kSint8:
    case CimType::kSint16:
    case CimType::kChar16:
      if (!AsBits(s, &bits)) return WBEM_E_TYPE_MISMATCH;
      v->vt = VT_I2;
      v->iVal = static_cast<SHORT>(bits);
      return S_OK;
    case CimType::kUint8:
      if (!AsBits(s, &bits)) return WBEM_E_TYPE_MISMATCH;
      v->vt = VT_UI1;
      v->bVal = static_cast<BYTE>(bits);
      return S_OK;
    case CimType::kUint16:
    case CimType::kSint32:
    case CimType::kUint32:
      if (!AsBits(s, &bits)) return WBEM_E_TYPE_MISMATCH;
      v->vt = VT_I4;
      v->lVal = static_cast<LONG>(static_cast<uint32_t>(bits));
      return S_OK;
    case CimType::kSint64:
    case CimType::kUint64: {
      if (!AsBits(s, &bits)) return WBEM_E_TYPE_MISMATCH;
      std::string digits = type == CimType::kSint64
                               ? std::to_string(static_cast<int64_t>(bits))
                               : std::to_string(bits);
      v->bstrVal = ToBstr(digits);
      if (!v->bstrVal) return WBEM_E_OUT_OF_MEMORY;
      v->vt = VT_BSTR;
      return S_OK;
    }
    case CimType::kReal32:
    case CimType::kReal64: {
      double d;
      if (auto* p = std::get_if<double>(&s))
        d = *p;
      else if (auto* i = std::get_if<int64_t>(&s))
        d = static_cast<double>(*i);
      else if (auto* u = std::get_if<uint64_t>(&s))
        d = static_cast<double>(*u);
      else
        return WBEM_E_TYPE_MISMATCH;
      if (type == CimType::kReal32) {
        v->vt = VT_R4;
        v->fltVal = static_cast<float>(d);
      } else {
        v->vt = VT_R8;
        v->dblVal = d;
      }
      return S_OK;
    }
    case CimType::kBoolean: {
      auto* b = std::get_if<bool>(&s);
      if (!b) return WBEM_E_TYPE_MISMATCH;
      v->vt = VT_BOOL;
      v->boolVal = *b ? VARIANT_TRUE : VARIANT_FALSE;
      return S_OK;
    }
    case CimType::kString:
    case CimType::kDatetime:
    case CimType::kReference: {
      auto* str = std::get_if<std::u16string>(&s);
      if (!str) return WBEM_E_TYPE_MISMATCH;
      v->bstrVal =
          SysAllocStringLen(str->data(), static_cast<UINT>(str->size()));
      if (!v->bstrVal) return WBEM_E_OUT_OF_MEMORY;
      v->vt = VT_BSTR;
      return S_OK;
    }
    case CimType::kObject: {
      auto* inst = std::get_if<std::shared_ptr<const Instance>>(&s);
      if (!inst) return WBEM_E_TYPE_MISMATCH;
      if (!*inst) {  // a NULL element of an object array
        v->vt = VT_UNKNOWN;
        v->punkVal = nullptr;
        return S_OK;
      }
      if (!(*inst)->cls) return WBEM_E_TYPE_MISMATCH;
      std::vector<size_t> all((*inst)->cls->properties.size());
      for (size_t i = 0; i < all.size(); ++i) all[i] = i;
      v->vt = VT_UNKNOWN;
      v->punkVal = NewClassObject(ns, (*inst)->cls, std::move(all), *inst);
      return S_OK;
    }
  }
  return WBEM_E_TYPE_MISMATCH;
}

// Moves the payload of a scalar VARIANT into slot k of an array of its type.
void StoreElement(SAFEARRAY* a, ULONG k, const VARIANT& v) {
  switch (v.vt) {
    case VT_I2:
      static_cast<SHORT*>(a->pvData)[k] = v.iVal;
      break;
    case VT_UI1:
      static_cast<BYTE*>(a->pvData)[k] = v.bVal;
      break;
    case VT_I4:
      static_cast<LONG*>(a->pvData)[k] = v.lVal;
      break;
    case VT_R4:
      static_cast<float*>(a->pvData)[k] = v.fltVal;
      break;
    case VT_R8:
      static_cast<double*>(a->pvData)[k] = v.dblVal;
      break;
    case VT_BOOL:
      static_cast<VARIANT_BOOL*>(a->pvData)[k] = v.boolVal;
      break;
    case VT_BSTR:
      static_cast<BSTR*>(a->pvData)[k] = v.bstrVal;
      break;
    case VT_UNKNOWN:
      static_cast<IUnknown**>(a->pvData)[k] = v.punkVal;
      break;
    default:
      break;
  }
}

}  // namespace

CIMTYPE CimTypeOf(const PropertyDef& p) {
  const CIMTYPE t = static_cast<CIMTYPE>(p.type);
  return p.isArray ? (t | CIM_FLAG_ARRAY) : t;
}

HRESULT ToVariant(const std::shared_ptr<Namespace>& ns, const PropertyDef& p,
                  const CimValue& value, VARIANT* out) {
  VariantInit(out);
  if (value.isNull) {
    out->vt = VT_NULL;
    return S_OK;
  }
  if (!p.isArray) {
    if (value.items.size() != 1) return WBEM_E_TYPE_MISMATCH;
    return ScalarToVariant(ns, p.type, value.items[0], out);
  }
  VARTYPE vt = VarTypeOf(p.type);
  ULONG n = static_cast<ULONG>(value.items.size());
  SAFEARRAY* a = SafeArrayCreateVector(vt, 0, n);
  if (!a) return WBEM_E_OUT_OF_MEMORY;
  for (ULONG k = 0; k < n; ++k) {
    VARIANT element;
    HRESULT hr = ScalarToVariant(ns, p.type, value.items[k], &element);
    if (FAILED(hr)) {
      SafeArrayDestroy(a);
      return hr;
    }
    StoreElement(a, k, element);
  }
  out->vt = static_cast<VARTYPE>(VT_ARRAY | vt);
  out->parray = a;
  return S_OK;
}

}  // namespace posix_wmi
