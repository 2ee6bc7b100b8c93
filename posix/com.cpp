// BSTR, SAFEARRAY and VARIANT of the stand-in platform, with counts of what is
// alive so that tests can catch a leak.
#include "posix/com.h"

#include <sys/random.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace {
long g_liveStrings = 0;
long g_liveArrays = 0;
long g_liveObjects = 0;
thread_local DWORD g_lastError = 0;
}  // namespace

long PosixLiveStrings() { return g_liveStrings; }
long PosixLiveArrays() { return g_liveArrays; }
long PosixLiveObjects() { return g_liveObjects; }
void PosixObjectCreated() { ++g_liveObjects; }
void PosixObjectDestroyed() { --g_liveObjects; }

DWORD GetLastError() { return g_lastError; }
void SetLastError(DWORD dwErrCode) { g_lastError = dwErrCode; }

bool operator==(const GUID& a, const GUID& b) {
  return a.Data1 == b.Data1 && a.Data2 == b.Data2 && a.Data3 == b.Data3 &&
         std::memcmp(a.Data4, b.Data4, sizeof a.Data4) == 0;
}

const IID IID_IUnknown = {0x00000000,
                          0x0000,
                          0x0000,
                          {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
const IID IID_IDispatch = {0x00020400,
                           0x0000,
                           0x0000,
                           {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

HRESULT CoCreateGuid(GUID* pguid) {
  if (!pguid) return E_INVALIDARG;
  uint8_t bytes[16];
  size_t got = 0;
  while (got < sizeof bytes) {
    ssize_t n = getrandom(bytes + got, sizeof bytes - got, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return E_FAIL;
    got += static_cast<size_t>(n);
  }
  std::memcpy(&pguid->Data1, bytes, 4);
  std::memcpy(&pguid->Data2, bytes + 4, 2);
  std::memcpy(&pguid->Data3, bytes + 6, 2);
  std::memcpy(pguid->Data4, bytes + 8, 8);
  pguid->Data3 = static_cast<uint16_t>((pguid->Data3 & 0x0FFF) | 0x4000);
  pguid->Data4[0] = static_cast<uint8_t>((pguid->Data4[0] & 0x3F) | 0x80);
  return S_OK;
}

BSTR SysAllocStringLen(const OLECHAR* strIn, UINT ui) {
  // A byte length that does not fit the 32-bit prefix cannot be laid out.
  if (ui > (UINT32_MAX - sizeof(uint32_t) - sizeof(OLECHAR)) / sizeof(OLECHAR))
    return nullptr;
  size_t bytes = size_t{ui} * sizeof(OLECHAR);
  auto* block = static_cast<char*>(
      std::malloc(sizeof(uint32_t) + bytes + sizeof(OLECHAR)));
  if (!block) return nullptr;
  uint32_t prefix = static_cast<uint32_t>(bytes);
  std::memcpy(block, &prefix, sizeof prefix);
  BSTR s = reinterpret_cast<BSTR>(block + sizeof(uint32_t));
  if (strIn)
    std::memcpy(s, strIn, bytes);
  else
    std::memset(s, 0, bytes);
  s[ui] = 0;
  ++g_liveStrings;
  return s;
}

BSTR SysAllocString(const OLECHAR* psz) {
  if (!psz) return nullptr;
  UINT n = 0;
  while (psz[n]) ++n;
  return SysAllocStringLen(psz, n);
}

void SysFreeString(BSTR bstrString) {
  if (!bstrString) return;
  --g_liveStrings;
  std::free(reinterpret_cast<char*>(bstrString) - sizeof(uint32_t));
}

UINT SysStringLen(BSTR pbstr) {
  if (!pbstr) return 0;
  uint32_t prefix;
  std::memcpy(&prefix, reinterpret_cast<char*>(pbstr) - sizeof(uint32_t),
              sizeof prefix);
  return prefix / sizeof(OLECHAR);
}

namespace {
// The element size and feature flag for each element type the stand-in
// makes arrays of; 0 for a type it does not support.
ULONG ElementSize(VARTYPE vt, USHORT* features) {
  *features = FADF_HAVEVARTYPE;
  switch (vt) {
    case VT_I1:
    case VT_UI1:
      return 1;
    case VT_I2:
    case VT_UI2:
    case VT_BOOL:
      return 2;
    case VT_I4:
    case VT_UI4:
    case VT_INT:
    case VT_UINT:
    case VT_R4:
    case VT_ERROR:
      return 4;
    case VT_R8:
    case VT_I8:
    case VT_UI8:
    case VT_CY:
    case VT_DATE:
      return 8;
    case VT_BSTR:
      *features |= FADF_BSTR;
      return sizeof(BSTR);
    // The elements are the interface pointers themselves.
    case VT_UNKNOWN:
      *features |= FADF_UNKNOWN;
      return sizeof(IUnknown*);  // NOLINT(bugprone-sizeof-expression)
    case VT_DISPATCH:
      *features |= FADF_DISPATCH;
      return sizeof(IDispatch*);  // NOLINT(bugprone-sizeof-expression)
    case VT_VARIANT:
      *features |= FADF_VARIANT;
      return sizeof(VARIANT);
    default:
      return 0;
  }
}

// The element type is kept just before the descriptor, where Windows keeps
// it for FADF_HAVEVARTYPE arrays.
struct ArrayBlock {
  uint32_t vt;
  SAFEARRAY array;
};
}  // namespace

SAFEARRAY* SafeArrayCreateVector(VARTYPE vt, LONG lLbound, ULONG cElements) {
  USHORT features;
  ULONG size = ElementSize(vt, &features);
  if (size == 0) return nullptr;
  if (cElements > SIZE_MAX / size) return nullptr;
  auto* block = static_cast<ArrayBlock*>(std::calloc(1, sizeof(ArrayBlock)));
  if (!block) return nullptr;
  void* data = nullptr;
  if (cElements) {
    data = std::calloc(cElements, size);
    if (!data) {
      std::free(block);
      return nullptr;
    }
  }
  block->vt = vt;
  block->array.cDims = 1;
  block->array.fFeatures = features;
  block->array.cbElements = size;
  block->array.pvData = data;
  block->array.rgsabound[0].cElements = cElements;
  block->array.rgsabound[0].lLbound = lLbound;
  ++g_liveArrays;
  return &block->array;
}

HRESULT SafeArrayGetVartype(SAFEARRAY* psa, VARTYPE* pvt) {
  if (!psa || !pvt) return E_INVALIDARG;
  auto* block = reinterpret_cast<ArrayBlock*>(reinterpret_cast<char*>(psa) -
                                              offsetof(ArrayBlock, array));
  *pvt = static_cast<VARTYPE>(block->vt);
  return S_OK;
}

HRESULT SafeArrayDestroy(SAFEARRAY* psa) {
  if (!psa) return S_OK;
  ULONG n = psa->rgsabound[0].cElements;
  if (psa->fFeatures & FADF_BSTR) {
    auto* items = static_cast<BSTR*>(psa->pvData);
    for (ULONG i = 0; i < n; ++i) SysFreeString(items[i]);
  } else if (psa->fFeatures & (FADF_UNKNOWN | FADF_DISPATCH)) {
    auto* items = static_cast<IUnknown**>(psa->pvData);
    for (ULONG i = 0; i < n; ++i)
      if (items[i]) items[i]->Release();
  } else if (psa->fFeatures & FADF_VARIANT) {
    auto* items = static_cast<VARIANT*>(psa->pvData);
    for (ULONG i = 0; i < n; ++i) VariantClear(&items[i]);
  }
  std::free(psa->pvData);
  std::free(reinterpret_cast<char*>(psa) - offsetof(ArrayBlock, array));
  --g_liveArrays;
  return S_OK;
}

void VariantInit(VARIANT* pvarg) {
  *pvarg = VARIANT{};
  pvarg->vt = VT_EMPTY;
}

HRESULT VariantClear(VARIANT* pvarg) {
  if (!pvarg) return E_INVALIDARG;
  if (pvarg->vt & VT_ARRAY) {
    if (!(pvarg->vt & VT_BYREF)) SafeArrayDestroy(pvarg->parray);
  } else {
    switch (pvarg->vt) {
      case VT_BSTR:
        SysFreeString(pvarg->bstrVal);
        break;
      case VT_UNKNOWN:
      case VT_DISPATCH:
        if (pvarg->punkVal) pvarg->punkVal->Release();
        break;
      default:
        break;
    }
  }
  VariantInit(pvarg);
  return S_OK;
}
