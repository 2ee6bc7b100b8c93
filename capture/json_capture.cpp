// The capture of WMI classes as JSON: the class object for the class's own
// spelling, a "SELECT *" query for the instances, the property walk for
// their values. Everything obtained from WMI is released here, on every
// path.
#include "capture/json_capture.h"

#include "capture/capture.h"
#include "capture/json_text.h"
#include "capture/mof_text.h"
#include "capture/redact.h"
#include "wmi/codepage.h"
#include "wmi/owners.h"

namespace {

// As deep as a MOF capture goes, which keeps the two formats alike and the
// recursion bounded.
constexpr int kMaxDepth = 32;

std::string Utf8Of(BSTR text) {
  return WideToUtf8(text, text ? SysStringLen(text) : 0);
}

// The class name an object gives as __CLASS: S_OK with `name` set.
HRESULT ClassOf(IWbemClassObject* object, std::string* name) {
  Variant value;
  HRESULT hr = object->Get(OLESTR("__CLASS"), 0, &value.v, nullptr, nullptr);
  if (FAILED(hr)) return hr;
  if (value.v.vt != VT_BSTR || !value.v.bstrVal) return WBEM_E_TYPE_MISMATCH;
  *name = Utf8Of(value.v.bstrVal);
  return S_OK;
}

}  // namespace

JsonCapture::JsonCapture(IWbemServices* services, Redactor* redactor)
    : services_(services), redactor_(redactor) {}

HRESULT JsonCapture::AddClass(const std::string& name) {
  Bstr path(AnsiToBstr(name));
  if (!path.p) return WBEM_E_OUT_OF_MEMORY;
  Com<IWbemClassObject> definition;
  HRESULT hr = services_->GetObject(path.p, 0, nullptr, &definition.p, nullptr);
  if (FAILED(hr)) return hr;
  if (!definition.p) return WBEM_E_FAILED;
  std::string spelled;
  if (ClassOf(definition.p, &spelled) != S_OK) spelled = name;
  for (const auto& captured : classes_)
    if (Matches(captured.first, spelled)) return S_OK;  // asked for twice

  size_t lossCount = losses_.size();
  std::string instances;
  hr = AppendInstances(instances, spelled, name);
  if (hr != S_OK) {
    losses_.resize(lossCount);
    return hr;
  }
  classes_.emplace_back(spelled, std::move(instances));
  return S_OK;
}

HRESULT JsonCapture::AppendInstances(std::string& out, const std::string& cls,
                                     const std::string& queryName) {
  return ForEachInstance(services_, queryName, [&](IWbemClassObject* object) {
    out += out.empty() ? "\n      " : ",\n      ";
    return AppendObject(out, object, cls, false, 0);
  });
}

// The properties of one object as a JSON object. An instance of a subclass
// that a query returned counts as one of the class asked for, as in a MOF
// capture; an embedded object names its own class.
HRESULT JsonCapture::AppendObject(std::string& out, IWbemClassObject* object,
                                  const std::string& cls, bool embedded,
                                  int depth) {
  out += '{';
  if (embedded) {
    out += "\"__CLASS\": ";
    AppendJsonString(out, cls);
  }
  HRESULT hr = object->BeginEnumeration(WBEM_FLAG_NONSYSTEM_ONLY);
  if (FAILED(hr)) return hr;
  bool first = !embedded;
  for (;;) {
    Bstr name;
    Variant value;
    CIMTYPE type = 0;
    hr = object->Next(0, &name.p, &value.v, &type, nullptr);
    if (hr != WBEM_S_NO_ERROR) break;
    std::string property = Utf8Of(name.p);
    if (redactor_) {
      hr = redactor_->Apply(cls, property, type, &value.v);
      if (hr != S_OK) break;
    }
    out += first ? "" : ", ";
    first = false;
    AppendJsonString(out, property);
    out += ": ";
    std::string where = cls;
    where += '.';
    where += property;
    hr = AppendValue(out, value.v, type, where, depth);
    if (hr != S_OK) break;
  }
  object->EndEnumeration();
  // Another success code ends the walk short: the object is not whole.
  if (hr != WBEM_S_NO_MORE_DATA) return hr;
  out += '}';
  return S_OK;
}

HRESULT JsonCapture::AppendValue(std::string& out, const VARIANT& value,
                                 CIMTYPE type, const std::string& where,
                                 int depth) {
  if (value.vt == VT_NULL || value.vt == VT_EMPTY) {
    out += "null";
    return S_OK;
  }
  CIMTYPE base = type & ~CIM_FLAG_ARRAY;
  if (type & CIM_FLAG_ARRAY) {
    if (!(value.vt & VT_ARRAY) || !value.parray) return WBEM_E_TYPE_MISMATCH;
    VARTYPE vt = static_cast<VARTYPE>(value.vt & ~VT_ARRAY);
    ULONG count =
        value.parray->cDims == 1 ? value.parray->rgsabound[0].cElements : 0;
    out += '[';
    for (ULONG k = 0; k < count; ++k) {
      VARIANT element;
      if (!BorrowElement(value.parray, vt, k, &element))
        return WBEM_E_TYPE_MISMATCH;
      out += k > 0 ? ", " : "";
      HRESULT hr = AppendValue(out, element, base, where, depth);
      if (hr != S_OK) return hr;
    }
    out += ']';
    return S_OK;
  }
  if (base == CIM_OBJECT) {
    if (value.vt != VT_UNKNOWN && value.vt != VT_DISPATCH)
      return WBEM_E_TYPE_MISMATCH;
    return AppendEmbedded(out, value.punkVal, depth + 1);
  }
  HRESULT hr = AppendJsonScalar(out, value, base);
  if (hr != S_FALSE) return hr;
  losses_.push_back(where + ": an infinity or NaN, written as null");
  return S_OK;
}

HRESULT JsonCapture::AppendEmbedded(std::string& out, IUnknown* unknown,
                                    int depth) {
  if (!unknown) {
    out += "null";
    return S_OK;
  }
  if (depth >= kMaxDepth) return WBEM_E_FAILED;
  Com<IWbemClassObject> object;
  HRESULT hr = unknown->QueryInterface(IID_IWbemClassObject,
                                       reinterpret_cast<void**>(&object.p));
  if (FAILED(hr) || !object.p) return WBEM_E_TYPE_MISMATCH;
  std::string cls;
  hr = ClassOf(object.p, &cls);
  if (FAILED(hr)) return hr;
  return AppendObject(out, object.p, cls, true, depth);
}

std::string JsonCapture::Text(const std::string& machine,
                              const std::string& captured,
                              const std::string& version) const {
  std::string out = "{\n  \"machine\": ";
  AppendJsonString(out, machine);
  out += ",\n  \"captured\": ";
  AppendJsonString(out, captured);
  out += ",\n  \"version\": ";
  AppendJsonString(out, version);
  out += ",\n  \"classes\": {";
  for (size_t i = 0; i < classes_.size(); ++i) {
    out += i > 0 ? ",\n    " : "\n    ";
    AppendJsonString(out, classes_[i].first);
    out += ": [";
    // An empty class stays on one line: "Class": [].
    out += classes_[i].second;
    out += classes_[i].second.empty() ? "]" : "\n    ]";
  }
  out += classes_.empty() ? "}\n}\n" : "\n  }\n}\n";
  return out;
}
