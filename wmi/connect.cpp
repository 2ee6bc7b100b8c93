// The start-up of COM and the WMI connection, in the one order both
// programs have always used.
#include "wmi/connect.h"

#include "wmi/codepage.h"

namespace {

bool Failed(ConnectStep step, HRESULT code, ConnectFailure* failure) {
  failure->step = step;
  failure->code = code;
  return false;
}

}  // namespace

WmiConnection::ComLibrary::~ComLibrary() {
  if (started) CoUninitialize();
}

bool WmiConnection::Open(ConnectFailure* failure) {
  HRESULT hr = OleInitialize(nullptr);
  if (FAILED(hr)) return Failed(ConnectStep::kComLibrary, hr, failure);
  com_.started = true;
  // OleInitialize has already chosen the apartment; this call only fails.
  CoInitializeEx(nullptr, COINIT_MULTITHREADED);

  hr = CoInitializeSecurity(
      nullptr, -1, nullptr, nullptr, RPC_C_AUTHN_LEVEL_PKT_PRIVACY,
      RPC_C_IMP_LEVEL_IMPERSONATE, nullptr, EOAC_SECURE_REFS, nullptr);
  if (FAILED(hr)) return Failed(ConnectStep::kSecurity, hr, failure);

  resource_.p = AnsiToBstr("\\\\.\\root\\cimv2");
  if (!resource_.p)
    return Failed(ConnectStep::kResourceName, WBEM_E_OUT_OF_MEMORY, failure);

  hr = CoCreateInstance(CLSID_WbemLocator, nullptr, CLSCTX_INPROC_SERVER,
                        IID_IWbemLocator,
                        reinterpret_cast<LPVOID*>(&locator_.p));
  if (FAILED(hr)) return Failed(ConnectStep::kLocator, hr, failure);

  hr = locator_.p->ConnectServer(resource_.p, nullptr, nullptr, nullptr, 0,
                                 nullptr, nullptr, &services_.p);
  if (FAILED(hr)) return Failed(ConnectStep::kServer, hr, failure);
  return true;
}
