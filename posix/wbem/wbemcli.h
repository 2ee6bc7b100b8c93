// Stand-in for COM start-up and the five WMI interfaces the core uses, with
// the method names, signatures and status codes of Windows. The service behind
// them answers WQL from a MOF repository file or from live machine facts.
// Never compiled on Windows.
#pragma once

#include "posix/com.h"

typedef LONG CIMTYPE;
struct IWbemContext;
struct IWbemCallResult;

// COM start-up and objects.
enum COINIT : DWORD {
  COINIT_MULTITHREADED = 0x0,
  COINIT_APARTMENTTHREADED = 0x2,
};
enum CLSCTX : DWORD {
  CLSCTX_INPROC_SERVER = 0x1,
  CLSCTX_LOCAL_SERVER = 0x4,
};
constexpr DWORD RPC_C_AUTHN_LEVEL_DEFAULT = 0;
constexpr DWORD RPC_C_AUTHN_LEVEL_PKT_PRIVACY = 6;
constexpr DWORD RPC_C_IMP_LEVEL_IMPERSONATE = 3;
constexpr DWORD EOAC_NONE = 0;
constexpr DWORD EOAC_SECURE_REFS = 2;
typedef void* PSECURITY_DESCRIPTOR;
struct SOLE_AUTHENTICATION_SERVICE;

HRESULT OleInitialize(LPVOID pvReserved);
void OleUninitialize();
HRESULT CoInitializeEx(LPVOID pvReserved, DWORD dwCoInit);
HRESULT CoInitializeSecurity(PSECURITY_DESCRIPTOR pSecDesc, LONG cAuthSvc,
                             SOLE_AUTHENTICATION_SERVICE* asAuthSvc,
                             void* pReserved1, DWORD dwAuthnLevel,
                             DWORD dwImpLevel, void* pAuthList,
                             DWORD dwCapabilities, void* pReserved3);
HRESULT CoCreateInstance(REFCLSID rclsid, LPUNKNOWN pUnkOuter,
                         DWORD dwClsContext, REFIID riid, LPVOID* ppv);
void CoUninitialize();

extern const CLSID CLSID_WbemLocator;
extern const IID IID_IWbemLocator;
extern const IID IID_IWbemServices;
extern const IID IID_IEnumWbemClassObject;
extern const IID IID_IWbemClassObject;
extern const IID IID_IWbemQualifierSet;

// WMI status codes (WBEMSTATUS) and flags.
constexpr HRESULT WBEM_S_NO_ERROR = 0;
constexpr HRESULT WBEM_S_FALSE = 1;
constexpr HRESULT WBEM_S_TIMEDOUT = 0x40004;
constexpr HRESULT WBEM_S_NO_MORE_DATA = 0x40005;
constexpr HRESULT WBEM_E_FAILED = static_cast<HRESULT>(0x80041001);
constexpr HRESULT WBEM_E_NOT_FOUND = static_cast<HRESULT>(0x80041002);
constexpr HRESULT WBEM_E_ACCESS_DENIED = static_cast<HRESULT>(0x80041003);
constexpr HRESULT WBEM_E_PROVIDER_FAILURE = static_cast<HRESULT>(0x80041004);
constexpr HRESULT WBEM_E_TYPE_MISMATCH = static_cast<HRESULT>(0x80041005);
constexpr HRESULT WBEM_E_OUT_OF_MEMORY = static_cast<HRESULT>(0x80041006);
constexpr HRESULT WBEM_E_INVALID_PARAMETER = static_cast<HRESULT>(0x80041008);
constexpr HRESULT WBEM_E_NOT_SUPPORTED = static_cast<HRESULT>(0x8004100C);
constexpr HRESULT WBEM_E_INVALID_NAMESPACE = static_cast<HRESULT>(0x8004100E);
constexpr HRESULT WBEM_E_INVALID_CLASS = static_cast<HRESULT>(0x80041010);
constexpr HRESULT WBEM_E_INVALID_QUERY = static_cast<HRESULT>(0x80041017);
constexpr HRESULT WBEM_E_INVALID_QUERY_TYPE = static_cast<HRESULT>(0x80041018);
constexpr HRESULT WBEM_E_UNEXPECTED = static_cast<HRESULT>(0x8004101D);
constexpr HRESULT WBEM_E_INVALID_SYNTAX = static_cast<HRESULT>(0x80041021);
constexpr HRESULT WBEM_E_INVALID_OBJECT_PATH = static_cast<HRESULT>(0x8004103A);

constexpr LONG WBEM_INFINITE = -1;
constexpr LONG WBEM_FLAG_RETURN_IMMEDIATELY = 0x10;
constexpr LONG WBEM_FLAG_FORWARD_ONLY = 0x20;
constexpr LONG WBEM_FLAG_ALWAYS = 0;
constexpr LONG WBEM_FLAG_NONSYSTEM_ONLY = 0x40;
constexpr LONG WBEM_FLAG_SYSTEM_ONLY = 0x30;
constexpr LONG WBEM_FLAG_LOCAL_ONLY = 0x10;

// CIM type codes, as WMI reports them.
enum CIMTYPE_ENUMERATION : CIMTYPE {
  CIM_ILLEGAL = 0xfff,
  CIM_EMPTY = 0,
  CIM_SINT8 = 16,
  CIM_UINT8 = 17,
  CIM_SINT16 = 2,
  CIM_UINT16 = 18,
  CIM_SINT32 = 3,
  CIM_UINT32 = 19,
  CIM_SINT64 = 20,
  CIM_UINT64 = 21,
  CIM_REAL32 = 4,
  CIM_REAL64 = 5,
  CIM_BOOLEAN = 11,
  CIM_STRING = 8,
  CIM_DATETIME = 101,
  CIM_REFERENCE = 102,
  CIM_CHAR16 = 103,
  CIM_OBJECT = 13,
  CIM_FLAG_ARRAY = 0x2000,
};

// The qualifiers of one property. The stand-in's carry "key" (VT_BOOL
// TRUE; absent when the property is no key) and "CIMTYPE" (VT_BSTR:
// "string", "uint32", "ref:Class", "object", ...; arrays by their element).
struct IWbemQualifierSet : IUnknown {
  virtual HRESULT Get(LPCWSTR wszName, LONG lFlags, VARIANT* pVal,
                      LONG* plFlavor) = 0;
};

// A class definition (from GetObject) or an instance (from a query). Of the
// system properties only __CLASS is known, to Get.
struct IWbemClassObject : IUnknown {
  virtual HRESULT Get(LPCWSTR wszName, LONG lFlags, VARIANT* pVal,
                      CIMTYPE* pType, LONG* plFlavor) = 0;
  virtual HRESULT BeginEnumeration(LONG lEnumFlags) = 0;
  virtual HRESULT Next(LONG lFlags, BSTR* strName, VARIANT* pVal,
                       CIMTYPE* pType, LONG* plFlavor) = 0;
  virtual HRESULT EndEnumeration() = 0;
  virtual HRESULT GetPropertyQualifierSet(LPCWSTR wszProperty,
                                          IWbemQualifierSet** ppQualSet) = 0;
};

struct IEnumWbemClassObject : IUnknown {
  virtual HRESULT Next(LONG lTimeout, ULONG uCount,
                       IWbemClassObject** apObjects, ULONG* puReturned) = 0;
};

struct IWbemServices : IUnknown {
  // strObjectPath names a class, optionally after "root\cimv2:": the class
  // object, every property NULL. Instance paths (Class.Key=...) and the
  // empty path (a new class) are not served: WBEM_E_NOT_SUPPORTED.
  virtual HRESULT GetObject(const BSTR strObjectPath, LONG lFlags,
                            IWbemContext* pCtx, IWbemClassObject** ppObject,
                            IWbemCallResult** ppCallResult) = 0;
  virtual HRESULT ExecQuery(const BSTR strQueryLanguage, const BSTR strQuery,
                            LONG lFlags, IWbemContext* pCtx,
                            IEnumWbemClassObject** ppEnum) = 0;
};

struct IWbemLocator : IUnknown {
  virtual HRESULT ConnectServer(const BSTR strNetworkResource,
                                const BSTR strUser, const BSTR strPassword,
                                const BSTR strLocale, LONG lSecurityFlags,
                                const BSTR strAuthority, IWbemContext* pCtx,
                                IWbemServices** ppNamespace) = 0;
};
