// The stand-in WMI service answers every namespace its repository files
// name, each with its own classes, and refuses the others.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "posix/wbem/wbemcli.h"

namespace {

// The first value of `query`'s first object in namespace `ns`, as text;
// the failing step's result otherwise.
HRESULT FirstValue(const char16_t* ns, const char16_t* query,
                   std::u16string* text) {
  IWbemLocator* locator = nullptr;
  IWbemServices* services = nullptr;
  IEnumWbemClassObject* objects = nullptr;
  HRESULT hr =
      CoCreateInstance(CLSID_WbemLocator, nullptr, CLSCTX_INPROC_SERVER,
                       IID_IWbemLocator, reinterpret_cast<LPVOID*>(&locator));
  BSTR path = SysAllocString(ns);
  BSTR wql = SysAllocString(u"WQL");
  BSTR q = SysAllocString(query);
  if (SUCCEEDED(hr))
    hr = locator->ConnectServer(path, nullptr, nullptr, nullptr, 0, nullptr,
                                nullptr, &services);
  if (SUCCEEDED(hr)) hr = services->ExecQuery(wql, q, 0, nullptr, &objects);
  IWbemClassObject* obj = nullptr;
  ULONG n = 0;
  if (SUCCEEDED(hr)) hr = objects->Next(WBEM_INFINITE, 1, &obj, &n);
  if (hr == WBEM_S_NO_ERROR) {
    VARIANT v;
    obj->BeginEnumeration(0);
    hr = obj->Next(0, nullptr, &v, nullptr, nullptr);
    if (hr == WBEM_S_NO_ERROR && v.vt == VT_BSTR)
      *text = std::u16string(v.bstrVal, SysStringLen(v.bstrVal));
    VariantClear(&v);
    obj->Release();
  }
  SysFreeString(path);
  SysFreeString(wql);
  SysFreeString(q);
  if (objects) objects->Release();
  if (services) services->Release();
  if (locator) locator->Release();
  return hr;
}

TEST(WbemNamespaces, AnswerEachNamespaceOfTheRepository) {
  std::string path = ::testing::TempDir() + "namespaces_test." +
                     std::to_string(getpid()) + ".mof";
  std::ofstream(path) << R"(
class Here { string S; };
instance of Here { S = "cimv2"; };
#pragma namespace("\\\\.\\root\\wmi")
class Here { string S; };
instance of Here { S = "wmi"; };
)";
  setenv("MODEL_WMI_REPOSITORY", path.c_str(), 1);
  ASSERT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
  const struct {
    const char16_t* ns;
    HRESULT hr;
    std::u16string value;
  } cases[] = {
      {u"root\\cimv2", S_OK, u"cimv2"},
      {u"ROOT\\WMI", S_OK, u"wmi"},
      {u"\\\\.\\root\\wmi", S_OK, u"wmi"},
      {u"//./root/wmi", S_OK, u"wmi"},
      {u"root\\nothing", WBEM_E_INVALID_NAMESPACE, u""},
      {u"wmi", WBEM_E_INVALID_NAMESPACE, u""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(
        std::string(c.ns, c.ns + std::char_traits<char16_t>::length(c.ns)));
    std::u16string value;
    EXPECT_EQ(FirstValue(c.ns, u"SELECT S FROM Here", &value), c.hr);
    EXPECT_EQ(value, c.value);
  }
  CoUninitialize();
  unsetenv("MODEL_WMI_REPOSITORY");
  std::remove(path.c_str());
}

}  // namespace
