// The stand-in WMI service: COM start-up, the locator and the services of
// a namespace, answering from MOF repository files (MODEL_WMI_REPOSITORY,
// any of their namespaces) or from this machine's live facts (root\cimv2,
// through the provider interface). No exception leaves a COM call.
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "posix/wbem/mof.h"
#include "posix/wbem/names.h"
#include "posix/wbem/objects.h"
#include "posix/wbem/provider.h"
#include "posix/wbem/wbemcli.h"
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

using posix_wmi::ClassDef;
using posix_wmi::ComObject;
using posix_wmi::Instance;
using posix_wmi::Namespace;
using posix_wmi::ToUtf8;

constexpr HRESULT CLASS_E_NOAGGREGATION = static_cast<HRESULT>(0x80040110);

// COM's per-process state. One thread only, as the program has.
struct ComState {
  int inits = 0;  // successful initialisations not yet undone
  bool multithreaded = false;
  bool securityDone = false;
  std::shared_ptr<Namespace> ns;  // root\cimv2
  // The repository's other namespaces, by path in lower case.
  std::map<std::string, std::shared_ptr<Namespace>> others;
} g_com;

// Whether `path` is a folder; if not, standard error says why.
bool IsFolder(const char* path) {
  struct stat st;
  int error = ::stat(path, &st) != 0 ? errno
              : S_ISDIR(st.st_mode)  ? 0
                                     : ENOTDIR;
  if (error) std::fprintf(stderr, "%s: %s\n", path, std::strerror(error));
  return error == 0;
}

// Reads the repository once per COM session, at its first initialisation,
// so that the injected failures reach every later step of the start-up.
void ReadNamespaces() {
  auto ns = std::make_shared<Namespace>();
  g_com.others.clear();
  const char* path = std::getenv("MODEL_WMI_REPOSITORY");
  if (path && *path) {
    posix_wmi::MofRepository repo;
    std::string error;
    ns->loadStatus = posix_wmi::LoadMofFiles(path, repo, error);
    if (FAILED(ns->loadStatus)) std::fprintf(stderr, "%s\n", error.c_str());
    ns->provider = std::move(repo.provider);
    ns->failures = repo.failures;
    for (auto& [key, provider] : repo.namespaces) {
      auto other = std::make_shared<Namespace>();
      other->provider = std::move(provider);
      other->failures = repo.failures;
      g_com.others[key] = std::move(other);
    }
  } else {
    // A root that is no folder would answer every question with nothing;
    // like a repository that cannot be read, it is refused at once.
    const char* root = std::getenv("MODEL_FS_ROOT");
    if (root && *root && !IsFolder(root)) {
      ns->loadStatus = WBEM_E_INVALID_NAMESPACE;
    } else {
      ns->provider = posix_wmi::MakeLiveProvider(root ? root : "");
    }
  }
  g_com.ns = std::move(ns);
}

void LoadNamespace() {
  try {
    ReadNamespaces();
  } catch (const std::bad_alloc&) {
    g_com.others.clear();
    g_com.ns = std::make_shared<Namespace>();
    g_com.ns->loadStatus = WBEM_E_OUT_OF_MEMORY;
  }
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

class Services : public ComObject<IWbemServices, IID_IWbemServices> {
 public:
  explicit Services(std::shared_ptr<Namespace> ns) : ns_(std::move(ns)) {}

  HRESULT GetObject(const BSTR strObjectPath, LONG, IWbemContext*,
                    IWbemClassObject** ppObject,
                    IWbemCallResult** ppCallResult) override {
    if (ppCallResult) *ppCallResult = nullptr;
    try {
      return posix_wmi::GetClassObject(ns_, strObjectPath, ppObject);
    } catch (const std::bad_alloc&) {
      if (ppObject) *ppObject = nullptr;
      return WBEM_E_OUT_OF_MEMORY;
    }
  }

  HRESULT ExecQuery(const BSTR strQueryLanguage, const BSTR strQuery,
                    LONG lFlags, IWbemContext* pCtx,
                    IEnumWbemClassObject** ppEnum) override {
    try {
      return Query(strQueryLanguage, strQuery, lFlags, pCtx, ppEnum);
    } catch (const std::bad_alloc&) {
      if (ppEnum) *ppEnum = nullptr;
      return WBEM_E_OUT_OF_MEMORY;
    }
  }

 private:
  HRESULT Query(const BSTR strQueryLanguage, const BSTR strQuery, LONG,
                IWbemContext*, IEnumWbemClassObject** ppEnum) {
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
    posix_wmi::Selection selection;
    selection.all = query.all;
    hr = posix_wmi::ResolveSelection(*cls, query, selection.properties);
    if (FAILED(hr)) return hr;
    std::vector<std::shared_ptr<const Instance>> instances;
    hr = ns_->provider->Instances(*cls, selection, instances);
    if (FAILED(hr)) return hr;
    *ppEnum = posix_wmi::NewEnumerator(ns_, cls, std::move(selection),
                                       std::move(instances));
    return WBEM_S_NO_ERROR;
  }

  std::shared_ptr<Namespace> ns_;
};

class Locator : public ComObject<IWbemLocator, IID_IWbemLocator> {
 public:
  Locator(std::shared_ptr<Namespace> ns,
          std::map<std::string, std::shared_ptr<Namespace>> others)
      : ns_(std::move(ns)), others_(std::move(others)) {}

  HRESULT ConnectServer(const BSTR strNetworkResource, const BSTR, const BSTR,
                        const BSTR, LONG, const BSTR, IWbemContext*,
                        IWbemServices** ppNamespace) override {
    if (!ppNamespace) return WBEM_E_INVALID_PARAMETER;
    *ppNamespace = nullptr;
    if (!strNetworkResource) return WBEM_E_INVALID_PARAMETER;
    if (ns_->failures.connectServer) return *ns_->failures.connectServer;
    std::shared_ptr<Namespace> ns = ns_;
    std::string path = ToUtf8(strNetworkResource);
    if (!posix_wmi::IsRootCimv2(path)) {
      std::string resolved;
      if (!posix_wmi::ResolveNamespace(path, "", &resolved))
        return WBEM_E_INVALID_NAMESPACE;
      auto it = others_.find(posix_wmi::LowerName(resolved));
      if (it == others_.end()) return WBEM_E_INVALID_NAMESPACE;
      ns = it->second;
    }
    if (!ns->provider) return ns_->loadStatus;
    *ppNamespace = new Services(std::move(ns));
    return WBEM_S_NO_ERROR;
  }

 private:
  std::shared_ptr<Namespace> ns_;
  std::map<std::string, std::shared_ptr<Namespace>> others_;
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
  auto* locator = new Locator(g_com.ns, g_com.others);
  HRESULT hr = locator->QueryInterface(riid, ppv);
  locator->Release();
  return hr;
}

void CoUninitialize() {
  if (g_com.inits == 0) return;
  if (--g_com.inits == 0) {
    g_com.ns.reset();
    g_com.others.clear();
    g_com.securityDone = false;
  }
}
