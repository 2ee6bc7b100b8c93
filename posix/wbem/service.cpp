// The stand-in WMI service: COM start-up, the locator, the root\cimv2
// services, the query enumerator and the result objects, answering from a
// MOF repository file (MODEL_WMI_REPOSITORY) or from this machine's live
// facts.
#include "posix/wbem/wbemcli.h"

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "posix/wbem/mof.h"
#include "posix/wbem/names.h"
#include "posix/wbem/provider.h"
#include "posix/utf.h"
#include "posix/wbem/wql.h"

const CLSID CLSID_WbemLocator = {
    0x4590F811,
    0x1D3A,
    0x11D0,
    {0x89, 0x1F, 0x00, 0xAA, 0x00, 0x4B, 0x2E, 0x24}};
const IID IID_IWbemLocator = {0xDC12A687,
                              0x737F,
                              0x11CF,
                              {0x88, 0x4D, 0x00, 0xAA, 0x00, 0x4B, 0x2E, 0x24}};
const IID IID_IWbemServices = {
    0x9556DC99,
    0x828C,
    0x11CF,
    {0xA3, 0x7E, 0x00, 0xAA, 0x00, 0x32, 0x40, 0xC7}};
const IID IID_IEnumWbemClassObject = {
    0x027947E1,
    0xD731,
    0x11CE,
    {0xA3, 0x57, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01}};
const IID IID_IWbemClassObject = {
    0xDC12A681,
    0x737F,
    0x11CF,
    {0x88, 0x4D, 0x00, 0xAA, 0x00, 0x4B, 0x2E, 0x24}};

namespace {

using posix_wmi::CimScalar;
using posix_wmi::CimType;
using posix_wmi::CimValue;
using posix_wmi::ClassDef;
using posix_wmi::InjectedFailures;
using posix_wmi::Instance;
using posix_wmi::PropertyDef;
using posix_wmi::Provider;

constexpr HRESULT CLASS_E_NOAGGREGATION = static_cast<HRESULT>(0x80040110);

// What root\cimv2 holds for one COM session. Every object handed out keeps
// it alive, so class definitions outlive an early CoUninitialize.
struct Namespace {
  std::unique_ptr<Provider> provider;  // null when the repository was bad
  InjectedFailures failures;
  HRESULT loadStatus = S_OK;  // ConnectServer's answer when provider is null
};

// COM's per-process state. One thread only, as the program has.
struct ComState {
  int inits = 0;  // successful initialisations not yet undone
  bool multithreaded = false;
  bool securityDone = false;
  std::shared_ptr<Namespace> ns;
} g_com;

// Reads the repository once per COM session, at its first initialisation,
// so that the injected failures reach every later step of the start-up.
void LoadNamespace() {
  auto ns = std::make_shared<Namespace>();
  const char* path = std::getenv("MODEL_WMI_REPOSITORY");
  if (path && *path) {
    posix_wmi::MofRepository repo;
    std::string error;
    ns->loadStatus = posix_wmi::LoadMofFile(path, repo, error);
    if (FAILED(ns->loadStatus)) std::fprintf(stderr, "%s\n", error.c_str());
    ns->provider = std::move(repo.provider);
    ns->failures = repo.failures;
  } else {
    const char* root = std::getenv("MODEL_FS_ROOT");
    ns->provider = posix_wmi::MakeLiveProvider(root ? root : "");
  }
  g_com.ns = std::move(ns);
}

HRESULT Initialize(bool multithreaded) {
  if (g_com.inits == 0) {
    g_com.multithreaded = multithreaded;
    g_com.inits = 1;
    return S_OK;
  }
  if (g_com.multithreaded != multithreaded) return RPC_E_CHANGED_MODE;
  ++g_com.inits;
  return S_FALSE;
}

// Text up to its NUL, as UTF-8 for the parsers.
std::string ToUtf8(const OLECHAR* s) {
  if (!s) return {};
  return posix_wmi::Utf16ToUtf8(std::u16string_view(s));
}

BSTR ToBstr(const std::string& utf8) {
  std::u16string wide = posix_wmi::Utf8ToUtf16(utf8);
  return SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
}

// Reference counting and the live-object count shared by every object the
// service hands out.
template <class Interface, const IID& kIid>
class ComObject : public Interface {
 public:
  ComObject() { PosixObjectCreated(); }
  ComObject(const ComObject&) = delete;
  ComObject& operator=(const ComObject&) = delete;

  HRESULT QueryInterface(REFIID riid, void** ppvObject) override {
    if (!ppvObject) return E_POINTER;
    if (riid == IID_IUnknown || riid == kIid) {
      *ppvObject = static_cast<Interface*>(this);
      AddRef();
      return S_OK;
    }
    *ppvObject = nullptr;
    return E_NOINTERFACE;
  }
  ULONG AddRef() override { return ++refs_; }
  ULONG Release() override {
    ULONG left = --refs_;
    if (left == 0) delete this;
    return left;
  }

 protected:
  ~ComObject() override { PosixObjectDestroyed(); }

 private:
  ULONG refs_ = 1;
};

VARTYPE VarTypeOf(CimType t) {
  switch (t) {
    case CimType::kSint8:
    case CimType::kSint16:
    case CimType::kChar16:
      return VT_I2;
    case CimType::kUint8:
      return VT_UI1;
    case CimType::kUint16:
    case CimType::kSint32:
    case CimType::kUint32:
      return VT_I4;
    case CimType::kReal32:
      return VT_R4;
    case CimType::kReal64:
      return VT_R8;
    case CimType::kBoolean:
      return VT_BOOL;
    case CimType::kObject:
      return VT_UNKNOWN;
    default:  // string, datetime, reference and the 64-bit integers
      return VT_BSTR;
  }
}

CIMTYPE CimTypeOf(const PropertyDef& p) {
  CIMTYPE t = CIM_STRING;
  switch (p.type) {
    case CimType::kSint8:
      t = CIM_SINT8;
      break;
    case CimType::kUint8:
      t = CIM_UINT8;
      break;
    case CimType::kSint16:
      t = CIM_SINT16;
      break;
    case CimType::kUint16:
      t = CIM_UINT16;
      break;
    case CimType::kSint32:
      t = CIM_SINT32;
      break;
    case CimType::kUint32:
      t = CIM_UINT32;
      break;
    case CimType::kSint64:
      t = CIM_SINT64;
      break;
    case CimType::kUint64:
      t = CIM_UINT64;
      break;
    case CimType::kReal32:
      t = CIM_REAL32;
      break;
    case CimType::kReal64:
      t = CIM_REAL64;
      break;
    case CimType::kBoolean:
      t = CIM_BOOLEAN;
      break;
    case CimType::kString:
      t = CIM_STRING;
      break;
    case CimType::kDatetime:
      t = CIM_DATETIME;
      break;
    case CimType::kReference:
      t = CIM_REFERENCE;
      break;
    case CimType::kChar16:
      t = CIM_CHAR16;
      break;
    case CimType::kObject:
      t = CIM_OBJECT;
      break;
  }
  return p.isArray ? (t | CIM_FLAG_ARRAY) : t;
}

HRESULT ToVariant(const std::shared_ptr<Namespace>& ns, const PropertyDef& p,
                  const CimValue& value, VARIANT* out);

class ClassObject : public ComObject<IWbemClassObject, IID_IWbemClassObject> {
 public:
  // Presents `selected` properties (indices into cls.properties) of inst,
  // which is of cls or of a class derived from it.
  ClassObject(std::shared_ptr<Namespace> ns, const ClassDef* cls,
              std::vector<size_t> selected,
              std::shared_ptr<const Instance> inst)
      : ns_(std::move(ns)),
        cls_(cls),
        selected_(std::move(selected)),
        inst_(std::move(inst)) {}

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
      if (!inst || !*inst || !(*inst)->cls) return WBEM_E_TYPE_MISMATCH;
      std::vector<size_t> all((*inst)->cls->properties.size());
      for (size_t i = 0; i < all.size(); ++i) all[i] = i;
      v->vt = VT_UNKNOWN;
      v->punkVal = new ClassObject(ns, (*inst)->cls, std::move(all), *inst);
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

class Enumerator
    : public ComObject<IEnumWbemClassObject, IID_IEnumWbemClassObject> {
 public:
  Enumerator(std::shared_ptr<Namespace> ns, const ClassDef* cls,
             std::vector<size_t> selected,
             std::vector<std::shared_ptr<const Instance>> instances)
      : ns_(std::move(ns)),
        cls_(cls),
        selected_(std::move(selected)),
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
      apObjects[returned++] = new ClassObject(ns_, cls_, selected_, inst);
      ++next_;
    }
    *puReturned = returned;
    return returned == uCount ? WBEM_S_NO_ERROR : WBEM_S_FALSE;
  }

 private:
  std::shared_ptr<Namespace> ns_;
  const ClassDef* cls_;
  std::vector<size_t> selected_;
  std::vector<std::shared_ptr<const Instance>> instances_;
  size_t next_ = 0;
};

class Services : public ComObject<IWbemServices, IID_IWbemServices> {
 public:
  explicit Services(std::shared_ptr<Namespace> ns) : ns_(std::move(ns)) {}

  HRESULT ExecQuery(const BSTR strQueryLanguage, const BSTR strQuery, LONG,
                    IWbemContext*, IEnumWbemClassObject** ppEnum) override {
    if (!ppEnum) return WBEM_E_INVALID_PARAMETER;
    *ppEnum = nullptr;
    if (!strQueryLanguage || !strQuery) return WBEM_E_INVALID_PARAMETER;
    if (ns_->failures.execQuery) return *ns_->failures.execQuery;
    if (!posix_wmi::SameName(ToUtf8(strQueryLanguage), "WQL"))
      return WBEM_E_INVALID_QUERY_TYPE;
    posix_wmi::WqlQuery query;
    HRESULT hr = posix_wmi::ParseWql(ToUtf8(strQuery), query);
    if (FAILED(hr)) return hr;
    const ClassDef* cls = ns_->provider->FindClass(query.className);
    if (!cls) return WBEM_E_INVALID_CLASS;
    std::vector<size_t> selected;
    hr = posix_wmi::ResolveSelection(*cls, query, selected);
    if (FAILED(hr)) return hr;
    std::vector<std::shared_ptr<const Instance>> instances;
    hr = ns_->provider->Instances(*cls, selected, instances);
    if (FAILED(hr)) return hr;
    *ppEnum =
        new Enumerator(ns_, cls, std::move(selected), std::move(instances));
    return WBEM_S_NO_ERROR;
  }

 private:
  std::shared_ptr<Namespace> ns_;
};

class Locator : public ComObject<IWbemLocator, IID_IWbemLocator> {
 public:
  explicit Locator(std::shared_ptr<Namespace> ns) : ns_(std::move(ns)) {}

  HRESULT ConnectServer(const BSTR strNetworkResource, const BSTR, const BSTR,
                        const BSTR, LONG, const BSTR, IWbemContext*,
                        IWbemServices** ppNamespace) override {
    if (!ppNamespace) return WBEM_E_INVALID_PARAMETER;
    *ppNamespace = nullptr;
    if (!strNetworkResource) return WBEM_E_INVALID_PARAMETER;
    if (ns_->failures.connectServer) return *ns_->failures.connectServer;
    if (!posix_wmi::IsRootCimv2(ToUtf8(strNetworkResource)))
      return WBEM_E_INVALID_NAMESPACE;
    if (!ns_->provider) return ns_->loadStatus;
    *ppNamespace = new Services(ns_);
    return WBEM_S_NO_ERROR;
  }

 private:
  std::shared_ptr<Namespace> ns_;
};

}  // namespace

HRESULT OleInitialize(LPVOID) {
  bool first = g_com.inits == 0;
  if (first) LoadNamespace();
  if (g_com.ns->failures.oleInitialize) {
    HRESULT hr = *g_com.ns->failures.oleInitialize;
    if (first) g_com.ns.reset();
    return hr;
  }
  // OLE needs a single-threaded apartment.
  return Initialize(false);
}

void OleUninitialize() { CoUninitialize(); }

HRESULT CoInitializeEx(LPVOID pvReserved, DWORD dwCoInit) {
  if (pvReserved) return E_INVALIDARG;
  if (g_com.inits == 0) LoadNamespace();
  return Initialize((dwCoInit & COINIT_APARTMENTTHREADED) == 0);
}

HRESULT CoInitializeSecurity(PSECURITY_DESCRIPTOR, LONG,
                             SOLE_AUTHENTICATION_SERVICE*, void*, DWORD, DWORD,
                             void*, DWORD, void*) {
  if (g_com.inits == 0) return CO_E_NOTINITIALIZED;
  if (g_com.ns->failures.coInitializeSecurity)
    return *g_com.ns->failures.coInitializeSecurity;
  if (g_com.securityDone) return RPC_E_TOO_LATE;
  g_com.securityDone = true;
  return S_OK;
}

HRESULT CoCreateInstance(REFCLSID rclsid, LPUNKNOWN pUnkOuter,
                         DWORD dwClsContext, REFIID riid, LPVOID* ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  if (g_com.inits == 0) return CO_E_NOTINITIALIZED;
  if (g_com.ns->failures.coCreateInstance)
    return *g_com.ns->failures.coCreateInstance;
  if (!(rclsid == CLSID_WbemLocator) || !(dwClsContext & CLSCTX_INPROC_SERVER))
    return REGDB_E_CLASSNOTREG;
  if (pUnkOuter) return CLASS_E_NOAGGREGATION;
  auto* locator = new Locator(g_com.ns);
  HRESULT hr = locator->QueryInterface(riid, ppv);
  locator->Release();
  return hr;
}

void CoUninitialize() {
  if (g_com.inits == 0) return;
  if (--g_com.inits == 0) {
    g_com.ns.reset();
    g_com.securityDone = false;
  }
}
