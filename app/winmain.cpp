// The program's entry: empties the log, brings up COM and the WMI connection,
// runs the query plan and tears everything down again. Exit codes: 0, the
// run's results are in the results file; 1, a start-up failure, logged
// before the results file is touched; 2, the connection came up but the
// results file could not be written (a message box says why).
#include <cstdio>

#include "app/plan.h"
#include "output/log.h"
#include "wmi/codepage.h"

namespace {

constexpr int kResultsNotWritten = 2;

// `format` holds one %X, filled with the 32-bit pattern of `code`.
void LogCode(const char* format, HRESULT code) {
  char message[128];
  std::snprintf(message, sizeof message, format,
                static_cast<unsigned int>(code));
  LogMessage(message);
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR lpCmdLine, int) {
  ResetLog();

  if (FAILED(OleInitialize(nullptr))) {
    LogMessage("Failed to initialize COM library\n");
    return 1;
  }
  // OleInitialize has already chosen the apartment; this call only fails.
  CoInitializeEx(nullptr, COINIT_MULTITHREADED);

  HRESULT hr = CoInitializeSecurity(
      nullptr, -1, nullptr, nullptr, RPC_C_AUTHN_LEVEL_PKT_PRIVACY,
      RPC_C_IMP_LEVEL_IMPERSONATE, nullptr, EOAC_SECURE_REFS, nullptr);
  if (FAILED(hr)) {
    LogCode("Failed to initialize security. Error code = %X\n", hr);
    CoUninitialize();
    return 1;
  }

  BSTR resource = AnsiToBstr("\\\\.\\root\\cimv2");
  if (!resource) {
    LogMessage("Failed to AllocSysString().\n");
    CoUninitialize();
    return 1;
  }

  IWbemLocator* locator = nullptr;
  hr = CoCreateInstance(CLSID_WbemLocator, nullptr, CLSCTX_INPROC_SERVER,
                        IID_IWbemLocator, reinterpret_cast<LPVOID*>(&locator));
  if (FAILED(hr)) {
    LogCode("Failed to create IWbemLocator object. Error code = %X\n", hr);
    SysFreeString(resource);
    CoUninitialize();
    return 1;
  }

  IWbemServices* services = nullptr;
  hr = locator->ConnectServer(resource, nullptr, nullptr, nullptr, 0, nullptr,
                              nullptr, &services);
  if (FAILED(hr)) {
    LogCode("Failed to connect. Error code = %X\n", hr);
    SysFreeString(resource);
    locator->Release();
    CoUninitialize();
    return 1;
  }

  bool written = RunQueryPlan(services, lpCmdLine);

  services->Release();
  SysFreeString(resource);
  locator->Release();
  CoUninitialize();
  return written ? 0 : kResultsNotWritten;
}
