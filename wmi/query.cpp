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
#include "wmi/owners.h"
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
    Bstr name;
    Variant value;
    const HRESULT hr = object->Next(0, &name.p, &value.v, nullptr, nullptr);
    if (hr == WBEM_S_NO_ERROR) {
      std::string text = ValueText(value.v);
      if (cdrom && IsDeviceIdName(name.p)) ShortenCdromDeviceId(text);
      g_resultLines.push_back(WideToAnsi(name.p) + " = " + text);
    }
    // Nothing should come back with an end or a failure, but whatever did
    // is the owners' to free.
    if (hr != WBEM_S_NO_ERROR) return hr;
  }
}

}  // namespace

int RunQuery(IWbemServices* services, const QueryRequest& request) {
  std::string query =
      "SELECT " + request.property + " FROM " + request.className;
  Bstr queryText(AnsiToBstr(query));
  if (!queryText.p) {
    LogMessage(("Failed AllocString " + query + " \n").c_str());
    return 0;
  }

  Bstr language(SysAllocString(OLESTR("WQL")));
  Com<IEnumWbemClassObject> objects;
  HRESULT hr =
      services->ExecQuery(language.p, queryText.p, 0, nullptr, &objects.p);
  if (FAILED(hr)) {
    LogFailure(("Failed to execute the WMI Query: " + query).c_str(), hr);
    return 0;
  }
  // Success comes with an enumerator; without one there is nothing to walk.
  if (!objects.p) return 1;

  for (;;) {
    Com<IWbemClassObject> object;
    ULONG returned = 0;
    hr = objects.p->Next(WBEM_INFINITE, 1, &object.p, &returned);
    if (hr != WBEM_S_NO_ERROR || returned != 1) break;
    HRESULT walk = object.p->BeginEnumeration(WBEM_FLAG_NONSYSTEM_ONLY);
    if (FAILED(walk)) {
      LogFailure("Failed to start BeginEnumeration", walk);
      return 0;
    }
    walk = AppendProperties(object.p, request);
    if (FAILED(walk)) {
      LogFailure("Failed to retrieve ClassObject", walk);
      return 0;
    }
    object.p->EndEnumeration();
  }

  if (FAILED(hr)) {
    LogFailure("Failed to retrieving Service", hr);
    return 0;
  }
  return 1;
}
