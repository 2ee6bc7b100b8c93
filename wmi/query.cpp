// The query runner: one WQL query, every returned object's non-system
// properties turned into result lines. Everything obtained from WMI here is
// released here, on every path.
#include "wmi/query.h"

#include <cstdlib>

#include "output/log.h"
#include "output/results.h"
#include "wmi/cdrom.h"
#include "wmi/codepage.h"
#include "wmi/format.h"
#include "wmi/status.h"

namespace {

void LogFailure(const char* what, HRESULT code) {
  LogMessage(
      (std::string(what) + ". Error code = " + GetWbemStatusName(code) + "\n")
          .c_str());
}

// The CD-ROM test is exact: case matters and the length must match.
bool IsDeviceIdName(BSTR name) {
  static const WCHAR kDeviceId[] = OLESTR("DeviceID");
  constexpr UINT kLength = sizeof kDeviceId / sizeof kDeviceId[0] - 1;
  if (!name || SysStringLen(name) != kLength) return false;
  for (UINT i = 0; i < kLength; ++i)
    if (name[i] != kDeviceId[i]) return false;
  return true;
}

std::string ValueText(const VARIANT& value) {
  WCHAR* text = nullptr;
  FormatPropertyValue(value, &text);
  std::string result = WideToAnsi(text);
  std::free(text);
  return result;
}

// Walks the non-system properties of one object into result lines. Returns
// the walk's final result: negative when it failed.
HRESULT AppendProperties(IWbemClassObject* object,
                         const QueryRequest& request) {
  bool cdrom = request.className == "Win32_CDROMDrive";
  for (;;) {
    BSTR name = nullptr;
    VARIANT value;
    VariantInit(&value);
    const HRESULT hr = object->Next(0, &name, &value, nullptr, nullptr);
    if (hr == WBEM_S_NO_ERROR) {
      std::string text = ValueText(value);
      if (cdrom && IsDeviceIdName(name)) ShortenCdromDeviceId(text);
      g_resultLines.push_back(WideToAnsi(name) + " = " + text);
    }
    // Nothing should come back with an end or a failure, but whatever did
    // is ours to free.
    SysFreeString(name);
    VariantClear(&value);
    if (hr != WBEM_S_NO_ERROR) return hr;
  }
}

}  // namespace

int RunQuery(IWbemServices* services, const QueryRequest& request) {
  std::string query =
      "SELECT " + request.property + " FROM " + request.className;
  BSTR queryText = AnsiToBstr(query);
  if (!queryText) {
    LogMessage(("Failed AllocString " + query + " \n").c_str());
    return 0;
  }

  BSTR language = SysAllocString(OLESTR("WQL"));
  IEnumWbemClassObject* objects = nullptr;
  HRESULT hr = services->ExecQuery(language, queryText, 0, nullptr, &objects);
  SysFreeString(language);
  if (FAILED(hr)) {
    LogFailure(("Failed to execute the WMI Query: " + query).c_str(), hr);
    SysFreeString(queryText);
    return 0;
  }
  // Success comes with an enumerator; without one there is nothing to walk.
  if (!objects) {
    SysFreeString(queryText);
    return 1;
  }

  for (;;) {
    IWbemClassObject* object = nullptr;
    ULONG returned = 0;
    hr = objects->Next(WBEM_INFINITE, 1, &object, &returned);
    if (hr != WBEM_S_NO_ERROR || returned != 1) {
      if (object) object->Release();
      break;
    }
    HRESULT walk = object->BeginEnumeration(WBEM_FLAG_NONSYSTEM_ONLY);
    if (FAILED(walk)) {
      LogFailure("Failed to start BeginEnumeration", walk);
      SysFreeString(queryText);
      object->Release();
      objects->Release();
      return 0;
    }
    walk = AppendProperties(object, request);
    if (FAILED(walk)) {
      LogFailure("Failed to retrieve ClassObject", walk);
      SysFreeString(queryText);
      object->Release();
      objects->Release();
      return 0;
    }
    object->EndEnumeration();
    object->Release();
  }

  objects->Release();
  SysFreeString(queryText);
  if (FAILED(hr)) {
    LogFailure("Failed to retrieving Service", hr);
    return 0;
  }
  return 1;
}
