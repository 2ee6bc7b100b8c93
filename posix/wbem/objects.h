// The stand-in WMI service's inner contracts: the namespace a COM session
// answers from, the reference counting every object shares, the objects a
// query hands out and the mapping of CIM values to VARIANTs. Only the
// service's own files include this. Never compiled on Windows.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "posix/wbem/mof.h"
#include "posix/wbem/provider.h"
#include "posix/wbem/wbemcli.h"

namespace posix_wmi {

// What one namespace, root\cimv2 or any other of the repository, holds for
// one COM session. Every object handed out keeps it alive, so class definitions
// outlive an early CoUninitialize.
struct Namespace {
  std::unique_ptr<Provider> provider;  // null when the repository was bad
  InjectedFailures failures;
  HRESULT loadStatus = S_OK;  // ConnectServer's answer when provider is null
};

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

// Text up to its NUL, as UTF-8 for the parsers.
std::string ToUtf8(const OLECHAR* s);
// A new BSTR of UTF-8 text; null when out of memory.
BSTR ToBstr(const std::string& utf8);

// The CIMTYPE a property reports, the array flag included.
CIMTYPE CimTypeOf(const PropertyDef& p);

// `value` of property `p` as WMI hands it out: VT_NULL, a scalar of the
// type's VARTYPE (64-bit integers as decimal BSTRs) or a SAFEARRAY of them.
HRESULT ToVariant(const std::shared_ptr<Namespace>& ns, const PropertyDef& p,
                  const CimValue& value, VARIANT* out);

// A result object presenting `selected` properties (indices into
// cls->properties) of inst, which is of cls or of a class derived from it.
IWbemClassObject* NewClassObject(std::shared_ptr<Namespace> ns,
                                 const ClassDef* cls,
                                 std::vector<size_t> selected,
                                 std::shared_ptr<const Instance> inst);

// IWbemServices::GetObject for a class path: a class object presenting
// every property of the class, each NULL.
HRESULT GetClassObject(const std::shared_ptr<Namespace>& ns,
                       const BSTR strObjectPath, IWbemClassObject** ppObject);

// IWbemClassObject::Get on an object presenting `selected` properties of
// cls (see NewClassObject): one of them, or the system property __CLASS,
// the class of inst.
HRESULT GetObjectProperty(const std::shared_ptr<Namespace>& ns,
                          const ClassDef& cls,
                          const std::vector<size_t>& selected,
                          const Instance& inst, LPCWSTR wszName, LONG lFlags,
                          VARIANT* pVal, CIMTYPE* pType, LONG* plFlavor);

// IWbemClassObject::GetPropertyQualifierSet for a property of cls.
HRESULT NewPropertyQualifierSet(std::shared_ptr<Namespace> ns,
                                const ClassDef& cls, LPCWSTR wszProperty,
                                IWbemQualifierSet** ppQualSet);

// The enumerator of a query of cls: each of `instances` (of cls or of a
// class derived from it) presents what `selection` asks of its own class.
IEnumWbemClassObject* NewEnumerator(
    std::shared_ptr<Namespace> ns, const ClassDef* cls, Selection selection,
    std::vector<std::shared_ptr<const Instance>> instances);

}  // namespace posix_wmi
