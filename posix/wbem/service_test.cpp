// The stand-in WMI service through its COM interfaces, driven the way the
// program drives Windows: start-up, queries, value mapping, injected
// failures, and the live counts that catch a leak.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "posix/wbem/wbemcli.h"

namespace {

std::u16string Str(BSTR s) { return std::u16string(s, SysStringLen(s)); }

// A repository file named by MODEL_WMI_REPOSITORY for the life of the
// object, and the start-up sequence of the program over it.
class Session {
 public:
  // CTest runs each test in a process of its own, side by side.
  explicit Session(const std::string& mof)
      : path_(::testing::TempDir() + "wbem_test." + std::to_string(getpid()) +
              ".mof") {
    std::ofstream(path_, std::ios::binary) << mof;
    setenv("MODEL_WMI_REPOSITORY", path_.c_str(), 1);
  }
  ~Session() {
    if (services) services->Release();
    if (locator) locator->Release();
    if (initialized_) CoUninitialize();
    unsetenv("MODEL_WMI_REPOSITORY");
    std::remove(path_.c_str());
  }

  // The start-up steps in order; the result of the first that fails, and
  // in `step` its name.
  HRESULT Connect(const char16_t* ns = u"\\\\.\\root\\cimv2",
                  std::string* step = nullptr) {
    std::string ignored;
    if (!step) step = &ignored;
    *step = "OleInitialize";
    HRESULT hr = OleInitialize(nullptr);
    if (FAILED(hr)) return hr;
    initialized_ = true;
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED),
              RPC_E_CHANGED_MODE);
    *step = "CoInitializeSecurity";
    hr = CoInitializeSecurity(
        nullptr, -1, nullptr, nullptr, RPC_C_AUTHN_LEVEL_PKT_PRIVACY,
        RPC_C_IMP_LEVEL_IMPERSONATE, nullptr, EOAC_SECURE_REFS, nullptr);
    if (FAILED(hr)) return hr;
    *step = "CoCreateInstance";
    hr =
        CoCreateInstance(CLSID_WbemLocator, nullptr, CLSCTX_INPROC_SERVER,
                         IID_IWbemLocator, reinterpret_cast<LPVOID*>(&locator));
    if (FAILED(hr)) return hr;
    *step = "ConnectServer";
    BSTR path = SysAllocString(ns);
    hr = locator->ConnectServer(path, nullptr, nullptr, nullptr, 0, nullptr,
                                nullptr, &services);
    SysFreeString(path);
    return hr;
  }

  HRESULT Exec(const char16_t* query, IEnumWbemClassObject** out,
               const char16_t* language = u"WQL") {
    BSTR lang = SysAllocString(language);
    BSTR text = SysAllocString(query);
    HRESULT hr = services->ExecQuery(lang, text, 0, nullptr, out);
    SysFreeString(lang);
    SysFreeString(text);
    return hr;
  }

  // Every object of a query, as its "name=value" texts in walk order.
  std::vector<std::vector<std::u16string>> Rows(const char16_t* query) {
    std::vector<std::vector<std::u16string>> rows;
    IEnumWbemClassObject* e = nullptr;
    HRESULT hr = Exec(query, &e);
    EXPECT_EQ(hr, S_OK);
    if (FAILED(hr)) return rows;
    IWbemClassObject* obj = nullptr;
    ULONG n = 0;
    while (e->Next(WBEM_INFINITE, 1, &obj, &n) == WBEM_S_NO_ERROR && n == 1) {
      rows.push_back(Walk(obj));
      obj->Release();
    }
    e->Release();
    return rows;
  }

  static std::vector<std::u16string> Walk(IWbemClassObject* obj) {
    std::vector<std::u16string> row;
    EXPECT_EQ(obj->BeginEnumeration(WBEM_FLAG_NONSYSTEM_ONLY), S_OK);
    BSTR name = nullptr;
    VARIANT v;
    while (obj->Next(0, &name, &v, nullptr, nullptr) == WBEM_S_NO_ERROR) {
      std::u16string text = Str(name) + u"=";
      if (v.vt == VT_BSTR) text += Str(v.bstrVal);
      if (v.vt == VT_NULL) text += u"NULL";
      row.push_back(text);
      SysFreeString(name);
      VariantClear(&v);
    }
    EXPECT_EQ(obj->EndEnumeration(), S_OK);
    return row;
  }

  IWbemLocator* locator = nullptr;
  IWbemServices* services = nullptr;

 private:
  std::string path_;
  bool initialized_ = false;
};

const char kPeople[] = R"(
class Person { string Name; string Town; };
class Employee : Person { string Role; };
instance of Person { Name = "Ann"; Town = "Oslo"; };
instance of Employee { Role = "Cook"; Name = "Bob"; };
instance of Person { Name = "Cy"; };
)";

TEST(Wbem, QueriesSelectPropertiesInDeclarationOrder) {
  Session s(kPeople);
  ASSERT_EQ(s.Connect(), S_OK);
  using Rows = std::vector<std::vector<std::u16string>>;
  // Each instance as its own class presents it.
  EXPECT_EQ(s.Rows(u"SELECT * FROM Person"),
            (Rows{{u"Name=Ann", u"Town=Oslo"},
                  {u"Name=Bob", u"Town=NULL", u"Role=Cook"},
                  {u"Name=Cy", u"Town=NULL"}}));
  EXPECT_EQ(s.Rows(u"select town,NAME from person"),
            (Rows{{u"Name=Ann", u"Town=Oslo"},
                  {u"Name=Bob", u"Town=NULL"},
                  {u"Name=Cy", u"Town=NULL"}}));
  EXPECT_EQ(s.Rows(u"SELECT Role FROM Employee"), (Rows{{u"Role=Cook"}}));
  EXPECT_EQ(s.Rows(u"SELECT * FROM Employee"),
            (Rows{{u"Name=Bob", u"Town=NULL", u"Role=Cook"}}));

  const struct Case {
    const char16_t* query;
    const char16_t* language;
    HRESULT hr;
  } cases[] = {
      {u"SELECT * FROM Nobody", u"WQL", WBEM_E_INVALID_CLASS},
      {u"SELECT Role FROM Person", u"WQL", WBEM_E_INVALID_QUERY},
      {u"SELECT * FROM Person WHERE Name = 'Ann'", u"WQL",
       WBEM_E_INVALID_QUERY},
      {u"SELECT * Person", u"WQL", WBEM_E_INVALID_QUERY},
      {u"SELECT * FROM Person", u"SQL", WBEM_E_INVALID_QUERY_TYPE},
      {u"SELECT * FROM Person", u"wql", S_OK},
  };
  for (const Case& c : cases) {
    IEnumWbemClassObject* e = reinterpret_cast<IEnumWbemClassObject*>(1);
    EXPECT_EQ(s.Exec(c.query, &e, c.language), c.hr);
    if (SUCCEEDED(c.hr)) {
      ASSERT_NE(e, nullptr);
      e->Release();
    } else {
      EXPECT_EQ(e, nullptr);
    }
  }
}

TEST(Wbem, EnumeratorAndPropertyWalkEndAsWindowsDoes) {
  Session s(kPeople);
  ASSERT_EQ(s.Connect(), S_OK);
  IEnumWbemClassObject* e = nullptr;
  ASSERT_EQ(s.Exec(u"SELECT Name FROM Person", &e), S_OK);

  IWbemClassObject* objs[2] = {};
  ULONG n = 99;
  ASSERT_EQ(e->Next(WBEM_INFINITE, 1, objs, &n), WBEM_S_NO_ERROR);
  ASSERT_EQ(n, 1u);
  IWbemClassObject* obj = objs[0];

  BSTR name = nullptr;
  VARIANT v;
  EXPECT_EQ(obj->Next(0, &name, &v, nullptr, nullptr), WBEM_E_UNEXPECTED);
  ASSERT_EQ(obj->BeginEnumeration(0), S_OK);
  CIMTYPE type = 0;
  LONG flavor = -1;
  ASSERT_EQ(obj->Next(0, &name, &v, &type, &flavor), WBEM_S_NO_ERROR);
  EXPECT_EQ(Str(name), u"Name");
  EXPECT_EQ(v.vt, VT_BSTR);
  EXPECT_EQ(type, CIM_STRING);
  EXPECT_EQ(flavor, 0);
  SysFreeString(name);
  VariantClear(&v);
  EXPECT_EQ(obj->Next(0, &name, &v, nullptr, nullptr), WBEM_S_NO_MORE_DATA);
  EXPECT_EQ(obj->Next(0, &name, &v, nullptr, nullptr), WBEM_S_NO_MORE_DATA);
  EXPECT_EQ(obj->EndEnumeration(), S_OK);
  EXPECT_EQ(obj->BeginEnumeration(WBEM_FLAG_SYSTEM_ONLY), S_OK);
  EXPECT_EQ(obj->Next(0, &name, &v, nullptr, nullptr), WBEM_S_NO_MORE_DATA);
  EXPECT_EQ(obj->BeginEnumeration(0x1234), WBEM_E_INVALID_PARAMETER);
  obj->Release();

  // Two asked, two left: both come; then none, and that stays so.
  ASSERT_EQ(e->Next(WBEM_INFINITE, 2, objs, &n), WBEM_S_NO_ERROR);
  ASSERT_EQ(n, 2u);
  objs[0]->Release();
  objs[1]->Release();
  for (int i = 0; i < 2; ++i) {
    EXPECT_EQ(e->Next(WBEM_INFINITE, 1, objs, &n), WBEM_S_FALSE);
    EXPECT_EQ(n, 0u);
  }
  EXPECT_EQ(e->Next(WBEM_INFINITE, 1, objs, nullptr), WBEM_E_INVALID_PARAMETER);
  e->Release();
}

TEST(Wbem, MapsCimTypesToVariants) {
  Session s(R"(
class T {
  sint8 I8; uint8 U8; sint16 I16; uint16 U16; sint32 I32; uint32 U32;
  sint64 I64; uint64 U64; real32 R32; real64 R64; boolean B; string S;
  datetime D; T ref Rf; char16 C; object O; uint32 A32[]; string AS[];
  object AO[]; boolean AB[]; uint8 A8[]; string N;
};
instance of T {
  I8 = -1; U8 = 200; I16 = -2; U16 = 65535; I32 = -3; U32 = 4294967295;
  I64 = -9223372036854775808; U64 = 18446744073709551615; R32 = 1.5;
  R64 = -2.25e3; B = TRUE; S = "s\x0000t"; D = "20240131120000.000000+060";
  Rf = "T.S=\"x\""; C = 'A'; O = instance of T { S = "inner"; };
  A32 = {1, 4294967295}; AS = {"a", "b"}; AO = {instance of T {}};
  AB = {TRUE, FALSE}; A8 = {};
};
)");
  ASSERT_EQ(s.Connect(), S_OK);
  IEnumWbemClassObject* e = nullptr;
  ASSERT_EQ(s.Exec(u"SELECT * FROM T", &e), S_OK);
  IWbemClassObject* obj = nullptr;
  ULONG n = 0;
  ASSERT_EQ(e->Next(WBEM_INFINITE, 1, &obj, &n), S_OK);
  ASSERT_EQ(obj->BeginEnumeration(WBEM_FLAG_NONSYSTEM_ONLY), S_OK);

  auto next = [&](const char16_t* expectName, VARTYPE vt, CIMTYPE cim) {
    BSTR name = nullptr;
    VARIANT v;
    CIMTYPE type = 0;
    EXPECT_EQ(obj->Next(0, &name, &v, &type, nullptr), S_OK);
    EXPECT_EQ(Str(name), expectName);
    EXPECT_EQ(v.vt, vt) << static_cast<const void*>(expectName);
    EXPECT_EQ(type, cim);
    SysFreeString(name);
    return v;
  };
  auto bstr = [](VARIANT v) {
    std::u16string s = v.vt == VT_BSTR ? Str(v.bstrVal) : u"?";
    VariantClear(&v);
    return s;
  };
  EXPECT_EQ(next(u"I8", VT_I2, CIM_SINT8).iVal, -1);
  EXPECT_EQ(next(u"U8", VT_UI1, CIM_UINT8).bVal, 200);
  EXPECT_EQ(next(u"I16", VT_I2, CIM_SINT16).iVal, -2);
  EXPECT_EQ(next(u"U16", VT_I4, CIM_UINT16).lVal, 65535);
  EXPECT_EQ(next(u"I32", VT_I4, CIM_SINT32).lVal, -3);
  EXPECT_EQ(next(u"U32", VT_I4, CIM_UINT32).lVal, -1);
  EXPECT_EQ(bstr(next(u"I64", VT_BSTR, CIM_SINT64)), u"-9223372036854775808");
  EXPECT_EQ(bstr(next(u"U64", VT_BSTR, CIM_UINT64)), u"18446744073709551615");
  EXPECT_EQ(next(u"R32", VT_R4, CIM_REAL32).fltVal, 1.5f);
  EXPECT_EQ(next(u"R64", VT_R8, CIM_REAL64).dblVal, -2250.0);
  EXPECT_EQ(next(u"B", VT_BOOL, CIM_BOOLEAN).boolVal, VARIANT_TRUE);
  EXPECT_EQ(bstr(next(u"S", VT_BSTR, CIM_STRING)), std::u16string(u"s\0t", 3));
  EXPECT_EQ(bstr(next(u"D", VT_BSTR, CIM_DATETIME)),
            u"20240131120000.000000+060");
  EXPECT_EQ(bstr(next(u"Rf", VT_BSTR, CIM_REFERENCE)), u"T.S=\"x\"");
  EXPECT_EQ(next(u"C", VT_I2, CIM_CHAR16).iVal, 'A');

  VARIANT o = next(u"O", VT_UNKNOWN, CIM_OBJECT);
  IWbemClassObject* inner = nullptr;
  ASSERT_EQ(o.punkVal->QueryInterface(IID_IWbemClassObject,
                                      reinterpret_cast<void**>(&inner)),
            S_OK);
  std::vector<std::u16string> innerRow = Session::Walk(inner);
  EXPECT_EQ(innerRow.size(), 22u);
  EXPECT_NE(std::find(innerRow.begin(), innerRow.end(), u"S=inner"),
            innerRow.end());
  inner->Release();
  VariantClear(&o);

  VARIANT a = next(u"A32", VT_ARRAY | VT_I4, CIM_UINT32 | CIM_FLAG_ARRAY);
  ASSERT_EQ(a.parray->rgsabound[0].cElements, 2u);
  EXPECT_EQ(static_cast<LONG*>(a.parray->pvData)[1], -1);
  VariantClear(&a);
  a = next(u"AS", VT_ARRAY | VT_BSTR, CIM_STRING | CIM_FLAG_ARRAY);
  EXPECT_EQ(Str(static_cast<BSTR*>(a.parray->pvData)[1]), u"b");
  VariantClear(&a);
  a = next(u"AO", VT_ARRAY | VT_UNKNOWN, CIM_OBJECT | CIM_FLAG_ARRAY);
  EXPECT_NE(static_cast<IUnknown**>(a.parray->pvData)[0], nullptr);
  VariantClear(&a);
  a = next(u"AB", VT_ARRAY | VT_BOOL, CIM_BOOLEAN | CIM_FLAG_ARRAY);
  EXPECT_EQ(static_cast<VARIANT_BOOL*>(a.parray->pvData)[0], VARIANT_TRUE);
  EXPECT_EQ(static_cast<VARIANT_BOOL*>(a.parray->pvData)[1], VARIANT_FALSE);
  VariantClear(&a);
  a = next(u"A8", VT_ARRAY | VT_UI1, CIM_UINT8 | CIM_FLAG_ARRAY);
  EXPECT_EQ(a.parray->rgsabound[0].cElements, 0u);
  VariantClear(&a);
  next(u"N", VT_NULL, CIM_STRING);

  obj->Release();
  e->Release();
}

// The program's whole path through the four interfaces, everything
// released: nothing the stand-in handed out may stay alive.
TEST(Wbem, FullReleaseLeavesNothingAliveAndASkippedOneIsCaught) {
  for (bool skip : {false, true}) {
    SCOPED_TRACE(skip);
    long objects = PosixLiveObjects(), strings = PosixLiveStrings(),
         arrays = PosixLiveArrays();
    IWbemClassObject* kept = nullptr;
    {
      Session s(R"(class C { string S; uint32 A[]; object O; };
                   instance of C { S = "x"; A = {1}; O = instance of C {}; };
                   instance of C { S = "y"; };)");
      ASSERT_EQ(s.Connect(), S_OK);
      IEnumWbemClassObject* e = nullptr;
      ASSERT_EQ(s.Exec(u"SELECT * FROM C", &e), S_OK);
      IWbemClassObject* obj = nullptr;
      ULONG n = 0;
      while (e->Next(WBEM_INFINITE, 1, &obj, &n) == S_OK && n == 1) {
        Session::Walk(obj);
        if (skip && !kept)
          kept = obj;
        else
          obj->Release();
      }
      e->Release();
    }
    if (!skip) {
      EXPECT_EQ(PosixLiveObjects(), objects);
      EXPECT_EQ(PosixLiveStrings(), strings);
      EXPECT_EQ(PosixLiveArrays(), arrays);
    } else {
      EXPECT_EQ(PosixLiveObjects(), objects + 1);
      kept->Release();
      EXPECT_EQ(PosixLiveObjects(), objects);
    }
  }
}

TEST(Wbem, BringsUpComAsWindowsDoes) {
  Session s("");
  void* p = reinterpret_cast<void*>(1);
  EXPECT_EQ(CoCreateInstance(CLSID_WbemLocator, nullptr, CLSCTX_INPROC_SERVER,
                             IID_IWbemLocator, &p),
            CO_E_NOTINITIALIZED);
  EXPECT_EQ(p, nullptr);
  ASSERT_EQ(s.Connect(), S_OK);
  EXPECT_EQ(OleInitialize(nullptr), S_FALSE);
  CoUninitialize();
  EXPECT_EQ(CoInitializeSecurity(nullptr, -1, nullptr, nullptr, 0, 0, nullptr,
                                 0, nullptr),
            RPC_E_TOO_LATE);
  EXPECT_EQ(CoCreateInstance(IID_IWbemServices, nullptr, CLSCTX_INPROC_SERVER,
                             IID_IWbemLocator, &p),
            REGDB_E_CLASSNOTREG);
  EXPECT_EQ(CoCreateInstance(CLSID_WbemLocator, nullptr, CLSCTX_INPROC_SERVER,
                             IID_IWbemServices, &p),
            E_NOINTERFACE);
  EXPECT_EQ(p, nullptr);
  ASSERT_EQ(CoCreateInstance(CLSID_WbemLocator, nullptr, CLSCTX_INPROC_SERVER,
                             IID_IUnknown, &p),
            S_OK);
  static_cast<IUnknown*>(p)->Release();

  for (const char16_t* ns :
       {u"root\\cimv2", u"ROOT\\CIMV2", u"//./root/cimv2"}) {
    IWbemServices* svc = nullptr;
    BSTR path = SysAllocString(ns);
    EXPECT_EQ(s.locator->ConnectServer(path, nullptr, nullptr, nullptr, 0,
                                       nullptr, nullptr, &svc),
              S_OK);
    SysFreeString(path);
    if (svc) svc->Release();
  }
  for (const char16_t* ns : {u"root\\default", u"\\\\host\\root\\cimv2", u""}) {
    IWbemServices* svc = nullptr;
    BSTR path = SysAllocString(ns);
    EXPECT_EQ(s.locator->ConnectServer(path, nullptr, nullptr, nullptr, 0,
                                       nullptr, nullptr, &svc),
              WBEM_E_INVALID_NAMESPACE);
    EXPECT_EQ(svc, nullptr);
    SysFreeString(path);
  }
}

// Without a repository file the namespace holds this machine's facts, read
// under MODEL_FS_ROOT.
TEST(Wbem, AnswersFromLiveFactsWithoutARepository) {
  std::string root =
      ::testing::TempDir() + "wbem_test_root." + std::to_string(getpid());
  std::filesystem::create_directories(root + "/sys/class/dmi/id");
  std::ofstream(root + "/sys/class/dmi/id/product_name") << "Box 9000\n";
  setenv("MODEL_FS_ROOT", root.c_str(), 1);
  {
    Session s("");
    unsetenv("MODEL_WMI_REPOSITORY");
    ASSERT_EQ(s.Connect(), S_OK);
    EXPECT_EQ(s.Rows(u"SELECT Model FROM Win32_ComputerSystem"),
              (std::vector<std::vector<std::u16string>>{{u"Model=Box 9000"}}));
  }
  unsetenv("MODEL_FS_ROOT");
  std::filesystem::remove_all(root);
}

TEST(Wbem, BadRepositoryFailsTheConnection) {
  {
    Session s(
        "#pragma fail(\"OleInitialize\", 0x80004005)\n"
        "class C { uint8 U = 256; };");
    ::testing::internal::CaptureStderr();
    std::string step;
    EXPECT_EQ(s.Connect(u"\\\\.\\root\\cimv2", &step), WBEM_E_INVALID_SYNTAX);
    EXPECT_EQ(step, "ConnectServer");
    std::string err = ::testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find(".mof:2:21: value out of range"), std::string::npos)
        << err;
  }
  {
    Session s("");
    setenv("MODEL_WMI_REPOSITORY", "/nonexistent/repo.mof", 1);
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(s.Connect(), WBEM_E_INVALID_NAMESPACE);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(),
              "/nonexistent/repo.mof: No such file or directory\n");
  }
}

TEST(Wbem, InjectsFailuresIntoEachStartUpStep) {
  for (const char* op : {"OleInitialize", "CoInitializeSecurity",
                         "CoCreateInstance", "ConnectServer"}) {
    SCOPED_TRACE(op);
    Session s(std::string("#pragma fail(\"") + op + "\", 0x80041003)\n");
    std::string step;
    EXPECT_EQ(s.Connect(u"\\\\.\\root\\cimv2", &step), WBEM_E_ACCESS_DENIED);
    EXPECT_EQ(step, op);
  }
  Session s(std::string(kPeople) + "#pragma fail(\"ExecQuery\", 0x80041017)\n");
  ASSERT_EQ(s.Connect(), S_OK);
  IEnumWbemClassObject* e = nullptr;
  EXPECT_EQ(s.Exec(u"SELECT * FROM Person", &e), WBEM_E_INVALID_QUERY);
  EXPECT_EQ(s.Exec(u"SELECT * FROM Nobody", &e), WBEM_E_INVALID_QUERY);
  EXPECT_EQ(e, nullptr);
}

TEST(Wbem, InjectsFailuresIntoWalks) {
  Session s(R"(
class C { string A; string B; };
instance of C { A = "1"; };
[FailNext(0x80041001)] instance of C { A = "2"; };
[FailBeginEnumeration(0x80041002)] instance of C { A = "3"; };
instance of C { A = "4"; [FailNext(0x80041004)] B = "x"; };
)");
  ASSERT_EQ(s.Connect(), S_OK);
  IEnumWbemClassObject* e = nullptr;
  ASSERT_EQ(s.Exec(u"SELECT * FROM C", &e), S_OK);
  IWbemClassObject* objs[3] = {};
  ULONG n = 99;

  // Asking for three stops short of the failing instance...
  ASSERT_EQ(e->Next(WBEM_INFINITE, 3, objs, &n), WBEM_S_FALSE);
  ASSERT_EQ(n, 1u);
  objs[0]->Release();
  // ...which the next call reports, without an object.
  objs[0] = nullptr;
  EXPECT_EQ(e->Next(WBEM_INFINITE, 1, objs, &n), WBEM_E_FAILED);
  EXPECT_EQ(n, 0u);
  EXPECT_EQ(objs[0], nullptr);

  ASSERT_EQ(e->Next(WBEM_INFINITE, 1, objs, &n), S_OK);
  EXPECT_EQ(objs[0]->BeginEnumeration(WBEM_FLAG_NONSYSTEM_ONLY),
            WBEM_E_NOT_FOUND);
  objs[0]->Release();

  ASSERT_EQ(e->Next(WBEM_INFINITE, 1, objs, &n), S_OK);
  IWbemClassObject* obj = objs[0];
  ASSERT_EQ(obj->BeginEnumeration(WBEM_FLAG_NONSYSTEM_ONLY), S_OK);
  BSTR name = nullptr;
  VARIANT v;
  ASSERT_EQ(obj->Next(0, &name, &v, nullptr, nullptr), S_OK);
  SysFreeString(name);
  VariantClear(&v);
  EXPECT_EQ(obj->Next(0, &name, &v, nullptr, nullptr), WBEM_E_PROVIDER_FAILURE);
  EXPECT_EQ(name, nullptr);
  EXPECT_EQ(v.vt, VT_EMPTY);
  obj->Release();
  EXPECT_EQ(e->Next(WBEM_INFINITE, 1, objs, &n), WBEM_S_FALSE);
  e->Release();
}

}  // namespace
