// The stand-in's class objects, Get and property qualifier sets, driven
// the way the capture tool drives Windows: GetObject of a class, its walk
// with CIM types, "key" and "CIMTYPE", and __CLASS of embedded objects.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "posix/wbem/wbemcli.h"

namespace {

std::u16string Str(BSTR s) { return std::u16string(s, SysStringLen(s)); }

// COM and a connection to root\cimv2 over a repository text, or over the
// live provider when the text is empty.
class Connection {
 public:
  explicit Connection(const std::string& mof)
      : path_(::testing::TempDir() + "class_object_test." +
              std::to_string(getpid()) + ".mof") {
    if (mof.empty()) {
      unsetenv("MODEL_WMI_REPOSITORY");
    } else {
      std::ofstream(path_, std::ios::binary) << mof;
      setenv("MODEL_WMI_REPOSITORY", path_.c_str(), 1);
    }
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
    IWbemLocator* locator = nullptr;
    EXPECT_EQ(
        CoCreateInstance(CLSID_WbemLocator, nullptr, CLSCTX_INPROC_SERVER,
                         IID_IWbemLocator, reinterpret_cast<LPVOID*>(&locator)),
        S_OK);
    BSTR root = SysAllocString(u"root\\cimv2");
    EXPECT_EQ(locator->ConnectServer(root, nullptr, nullptr, nullptr, 0,
                                     nullptr, nullptr, &services),
              S_OK);
    SysFreeString(root);
    locator->Release();
  }
  ~Connection() {
    if (services) services->Release();
    CoUninitialize();
    unsetenv("MODEL_WMI_REPOSITORY");
    std::remove(path_.c_str());
  }

  HRESULT GetObject(const char16_t* path, IWbemClassObject** out) {
    BSTR text = path ? SysAllocString(path) : nullptr;
    HRESULT hr = services->GetObject(text, 0, nullptr, out, nullptr);
    SysFreeString(text);
    return hr;
  }

  IWbemServices* services = nullptr;

 private:
  std::string path_;
};

// A property qualifier as text: "TRUE" for a boolean, the string itself, or
// the status of a failed Get.
std::u16string Qualifier(IWbemClassObject* object, const char16_t* property,
                         const char16_t* name) {
  IWbemQualifierSet* set = nullptr;
  HRESULT hr = object->GetPropertyQualifierSet(property, &set);
  if (FAILED(hr))
    return u"set " +
           std::u16string(hr == WBEM_E_NOT_FOUND ? u"not found" : u"failed");
  VARIANT value;
  VariantInit(&value);
  hr = set->Get(name, 0, &value, nullptr);
  std::u16string text = hr == WBEM_E_NOT_FOUND ? u"absent" : u"failed";
  if (hr == S_OK && value.vt == VT_BOOL)
    text = value.boolVal ? u"TRUE" : u"FALSE";
  if (hr == S_OK && value.vt == VT_BSTR) text = Str(value.bstrVal);
  VariantClear(&value);
  set->Release();
  return text;
}

const char kComponents[] = R"(
class Target { string Name; };
class Component {
  string Label;
  Target ref Owner;
  object Inner;
  uint16 Codes[];
};
class Gear : Component { uint64 Teeth; };
instance of Gear {
  Label = "g";
  Inner = instance of Target { Name = "t"; };
};
)";

TEST(ClassObject, GetObjectAnswersClassPathsOnly) {
  Connection c(kComponents);
  const struct Case {
    const char16_t* path;
    HRESULT hr;
  } cases[] = {
      {u"Component", S_OK},
      {u"component", S_OK},
      {u"root\\cimv2:Component", S_OK},
      {u"\\\\.\\root\\cimv2:Component", S_OK},
      {u"root\\default:Component", WBEM_E_INVALID_NAMESPACE},
      {u"Nobody", WBEM_E_NOT_FOUND},
      {u"Component.Label=\"g\"", WBEM_E_NOT_SUPPORTED},
      {u"", WBEM_E_NOT_SUPPORTED},
      {nullptr, WBEM_E_NOT_SUPPORTED},
      {u"9Component", WBEM_E_INVALID_OBJECT_PATH},
      {u"Component;", WBEM_E_INVALID_OBJECT_PATH},
  };
  for (const Case& k : cases) {
    IWbemClassObject* object = reinterpret_cast<IWbemClassObject*>(1);
    EXPECT_EQ(c.GetObject(k.path, &object), k.hr)
        << (k.path ? std::string(k.path, k.path + 3) : "null");
    if (k.hr == S_OK) {
      ASSERT_NE(object, nullptr);
      object->Release();
    } else {
      EXPECT_EQ(object, nullptr);
    }
  }
  EXPECT_EQ(c.services->GetObject(nullptr, 0, nullptr, nullptr, nullptr),
            WBEM_E_INVALID_PARAMETER);
}

TEST(ClassObject, WalkGivesEveryPropertyWithItsCimTypeAndNoValue) {
  Connection c(kComponents);
  IWbemClassObject* gear = nullptr;
  ASSERT_EQ(c.GetObject(u"Gear", &gear), S_OK);
  ASSERT_EQ(gear->BeginEnumeration(WBEM_FLAG_NONSYSTEM_ONLY), S_OK);
  std::vector<std::u16string> names;
  std::vector<CIMTYPE> types;
  BSTR name = nullptr;
  VARIANT value;
  CIMTYPE type = 0;
  while (gear->Next(0, &name, &value, &type, nullptr) == WBEM_S_NO_ERROR) {
    names.push_back(Str(name));
    types.push_back(type);
    EXPECT_EQ(value.vt, VT_NULL);
    SysFreeString(name);
  }
  gear->EndEnumeration();
  EXPECT_EQ(names, (std::vector<std::u16string>{u"Label", u"Owner", u"Inner",
                                                u"Codes", u"Teeth"}));
  EXPECT_EQ(types,
            (std::vector<CIMTYPE>{CIM_STRING, CIM_REFERENCE, CIM_OBJECT,
                                  CIM_UINT16 | CIM_FLAG_ARRAY, CIM_UINT64}));

  EXPECT_EQ(Qualifier(gear, u"Owner", u"CIMTYPE"), u"ref:Target");
  EXPECT_EQ(Qualifier(gear, u"inner", u"cimtype"), u"object");
  EXPECT_EQ(Qualifier(gear, u"Codes", u"CIMTYPE"), u"uint16");
  EXPECT_EQ(Qualifier(gear, u"Label", u"key"), u"absent");
  EXPECT_EQ(Qualifier(gear, u"Label", u"Description"), u"absent");
  EXPECT_EQ(Qualifier(gear, u"Nothing", u"key"), u"set not found");
  gear->Release();
}

TEST(ClassObject, LiveClassesCarryWindowsKeys) {
  Connection c("");
  IWbemClassObject* disk = nullptr;
  ASSERT_EQ(c.GetObject(u"Win32_DiskDrive", &disk), S_OK);
  EXPECT_EQ(Qualifier(disk, u"DeviceID", u"key"), u"TRUE");
  EXPECT_EQ(Qualifier(disk, u"Model", u"key"), u"absent");
  EXPECT_EQ(Qualifier(disk, u"Size", u"CIMTYPE"), u"uint64");
  disk->Release();
}

TEST(ClassObject, GetReadsOnePropertyOrTheObjectsClass) {
  long objects = PosixLiveObjects(), strings = PosixLiveStrings();
  {
    Connection c(kComponents);
    BSTR wql = SysAllocString(u"WQL");
    BSTR query = SysAllocString(u"SELECT * FROM Component");
    IEnumWbemClassObject* e = nullptr;
    ASSERT_EQ(c.services->ExecQuery(wql, query, 0, nullptr, &e), S_OK);
    SysFreeString(wql);
    SysFreeString(query);
    IWbemClassObject* part = nullptr;
    ULONG n = 0;
    ASSERT_EQ(e->Next(WBEM_INFINITE, 1, &part, &n), WBEM_S_NO_ERROR);
    e->Release();

    VARIANT v;
    CIMTYPE type = 0;
    // The instance's own class, though the query named its superclass.
    ASSERT_EQ(part->Get(u"__CLASS", 0, &v, &type, nullptr), S_OK);
    EXPECT_EQ(Str(v.bstrVal), u"Gear");
    EXPECT_EQ(type, CIM_STRING);
    VariantClear(&v);
    ASSERT_EQ(part->Get(u"label", 0, &v, nullptr, nullptr), S_OK);
    EXPECT_EQ(Str(v.bstrVal), u"g");
    VariantClear(&v);
    // The instance's own properties too, as its class presents them.
    ASSERT_EQ(part->Get(u"Teeth", 0, &v, &type, nullptr), S_OK);
    EXPECT_EQ(type, CIM_UINT64);
    VariantClear(&v);
    EXPECT_EQ(part->Get(u"Wheels", 0, &v, nullptr, nullptr), WBEM_E_NOT_FOUND);
    EXPECT_EQ(part->Get(u"Label", 1, &v, nullptr, nullptr),
              WBEM_E_INVALID_PARAMETER);

    ASSERT_EQ(part->Get(u"Inner", 0, &v, &type, nullptr), S_OK);
    ASSERT_EQ(v.vt, VT_UNKNOWN);
    IWbemClassObject* inner = nullptr;
    ASSERT_EQ(v.punkVal->QueryInterface(IID_IWbemClassObject,
                                        reinterpret_cast<void**>(&inner)),
              S_OK);
    VariantClear(&v);
    ASSERT_EQ(inner->Get(u"__CLASS", 0, &v, nullptr, nullptr), S_OK);
    EXPECT_EQ(Str(v.bstrVal), u"Target");
    VariantClear(&v);
    inner->Release();
    part->Release();
  }
  EXPECT_EQ(PosixLiveObjects(), objects);
  EXPECT_EQ(PosixLiveStrings(), strings);
}

}  // namespace
