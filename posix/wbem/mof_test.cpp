// The MOF reader: what a good file yields through the Provider, each
// refusal with its line and column, and the failures a file injects.
#include "posix/wbem/mof.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>

#include "posix/wbem/mof_testing.h"
#include "posix/wbem/wbemcli.h"

namespace posix_wmi {
namespace {

const char kGood[] = R"(// a comment
#pragma namespace("\\\\.\\root\\cimv2")
/* a block
   comment */
[Abstract, Description("base" " class") : ToSubclass Amended]
class Base {
  [Key] string Name;
  uint32 Flags = 7;
};
CLASS Derived : base {
  sint8 S8; uint8 U8; sint16 S16; uint16 U16; sint32 S32; uint32 U32;
  sint64 S64; uint64 U64; real32 R32; real64 R64; boolean B; char16 C;
  datetime When; Base ref Owner; object Inner; string List[];
  object Objects[]; [ValueMap{"1", "2"}] uint8 Bytes[];
};
instance of Derived {
  name = "first" "\t\"x\"\\\x41\n";
  S8 = -128; U8 = 0xff; S16 = -32768; U16 = 65535;
  S32 = -2147483648; U32 = 4294967295;
  S64 = -9223372036854775808; U64 = 18446744073709551615;
  R32 = 1.5; R64 = -2.25e3; B = TRUE; C = 'x';
  When = "20240131120000.000000+060";
  Owner = "Base.Name=\"x\"";
  Inner = instance of Base { Name = "inner"; };
  List = {"a", "b"}; Objects = { instance of Base {}, instance of Derived {} };
  Bytes = {};
};
instance of Base { Name = NULL; Flags = 1; };
Instance Of DERIVED { Name = "third"; R32 = 2; c = 65; };
)";

TEST(Mof, ReadsClassesAndInstances) {
  MofRepository repo = MustParse(kGood);
  const ClassDef* base = repo.provider->FindClass("BASE");
  const ClassDef* derived = repo.provider->FindClass("derived");
  ASSERT_TRUE(base && derived);
  EXPECT_EQ(derived->name, "Derived");
  EXPECT_EQ(derived->superclass, "Base");
  EXPECT_EQ(repo.provider->FindClass("Other"), nullptr);

  // Inherited properties come first, then the class's own in order.
  std::vector<std::string> names;
  for (const PropertyDef& p : derived->properties) names.push_back(p.name);
  EXPECT_EQ(names,
            (std::vector<std::string>{
                "Name", "Flags", "S8",    "U8",   "S16",     "U16",  "S32",
                "U32",  "S64",   "U64",   "R32",  "R64",     "B",    "C",
                "When", "Owner", "Inner", "List", "Objects", "Bytes"}));
  EXPECT_EQ(derived->properties[15].type, CimType::kReference);
  EXPECT_EQ(derived->properties[15].refClass, "Base");
  EXPECT_TRUE(derived->properties[17].isArray);

  // A query for the superclass sees every instance, in file order.
  auto all = InstancesOf(repo, "Base");
  ASSERT_EQ(all.size(), 3u);
  EXPECT_EQ(all[0]->cls, derived);
  EXPECT_EQ(all[1]->cls, base);
  EXPECT_EQ(InstancesOf(repo, "Derived").size(), 2u);

  const Instance& first = *all[0];
  EXPECT_EQ(std::get<std::u16string>(Item(first, 0)), u"first\t\"x\"\\A\n");
  EXPECT_EQ(std::get<uint64_t>(Item(first, 1)), 7u);  // class default
  EXPECT_EQ(std::get<int64_t>(Item(first, 2)), -128);
  EXPECT_EQ(std::get<uint64_t>(Item(first, 3)), 255u);
  EXPECT_EQ(std::get<int64_t>(Item(first, 4)), -32768);
  EXPECT_EQ(std::get<uint64_t>(Item(first, 5)), 65535u);
  EXPECT_EQ(std::get<int64_t>(Item(first, 6)), INT32_MIN);
  EXPECT_EQ(std::get<uint64_t>(Item(first, 7)), UINT32_MAX);
  EXPECT_EQ(std::get<int64_t>(Item(first, 8)), INT64_MIN);
  EXPECT_EQ(std::get<uint64_t>(Item(first, 9)), UINT64_MAX);
  EXPECT_EQ(std::get<double>(Item(first, 10)), 1.5);
  EXPECT_EQ(std::get<double>(Item(first, 11)), -2250.0);
  EXPECT_EQ(std::get<bool>(Item(first, 12)), true);
  EXPECT_EQ(std::get<int64_t>(Item(first, 13)), 'x');
  EXPECT_EQ(std::get<std::u16string>(Item(first, 14)),
            u"20240131120000.000000+060");
  EXPECT_EQ(std::get<std::u16string>(Item(first, 15)), u"Base.Name=\"x\"");
  auto inner = std::get<std::shared_ptr<const Instance>>(Item(first, 16));
  EXPECT_EQ(inner->cls, base);
  EXPECT_EQ(std::get<std::u16string>(Item(*inner, 0)), u"inner");
  EXPECT_EQ(first.values[17].items.size(), 2u);
  EXPECT_EQ(std::get<std::u16string>(Item(first, 17, 1)), u"b");
  EXPECT_EQ(std::get<std::shared_ptr<const Instance>>(Item(first, 18, 1))->cls,
            derived);
  EXPECT_FALSE(first.values[19].isNull);
  EXPECT_TRUE(first.values[19].items.empty());
  EXPECT_FALSE(first.failNext || first.failBeginEnumeration);
  EXPECT_TRUE(first.failPropertyNext.empty());

  EXPECT_TRUE(all[1]->values[0].isNull);
  EXPECT_EQ(std::get<uint64_t>(Item(*all[1], 1)), 1u);
  EXPECT_TRUE(all[2]->values[2].isNull);  // never set, no default
  EXPECT_EQ(std::get<double>(Item(*all[2], 10)), 2.0);
  EXPECT_EQ(std::get<int64_t>(Item(*all[2], 13)), 65);
}

TEST(Mof, AcceptsByteOrderMarksAndUtf16) {
  const std::string text =
      "class C { string S; };\ninstance of C { S = "
      "\"\xC3\xA9\xF0\x9F\x98\x80\"; };";
  std::string le = "\xFF\xFE", be = "\xFE\xFF";
  // Widen the ASCII frame and the two non-ASCII characters by hand.
  std::u16string wide = u"class C { string S; };\ninstance of C { S = \"\u00E9";
  wide += u"\U0001F600\"; };";
  for (char16_t c : wide) {
    le += static_cast<char>(c & 0xFF), le += static_cast<char>(c >> 8);
    be += static_cast<char>(c >> 8), be += static_cast<char>(c & 0xFF);
  }
  for (const std::string& bytes : {text, "\xEF\xBB\xBF" + text, le, be}) {
    MofRepository repo = MustParse(bytes);
    auto all = InstancesOf(repo, "C");
    ASSERT_EQ(all.size(), 1u);
    EXPECT_EQ(std::get<std::u16string>(Item(*all[0], 0)), u"\u00E9\U0001F600");
  }
}

TEST(Mof, RefusesWithLineAndColumn) {
  const std::string decl =
      "class C { uint8 U; sint8 S; real32 R; boolean B; string T; "
      "datetime D; object O; char16 H; uint32 A[]; };\n";
  const struct Case {
    std::string text;
    const char* error;  // after "t.mof:"
  } cases[] = {
      {"klass C {};",
       "1:1: expected 'class', 'instance', 'qualifier' or '#pragma', found "
       "'klass'"},
      {"class C { string S; }", "1:22: expected ';', found end of file"},
      {"class C {\n  string S\n};", "3:1: expected ';', found '}'"},
      {"class C { 1 S; };", "1:11: expected a type (sint8 .. uint64"},
      {"class C : C { };", "1:7: class C would derive from itself"},
      {"#pragma classflags(\"createonly\")\nclass C {}; class c {};",
       "2:19: class c is already declared"},
      {"class C { string S; string s; };",
       "1:28: property s is already declared in class C"},
      {"class C { void M(); uint8 m(); };",
       "1:27: method m is already declared in class C"},
      {"class C { X ref; };",
       "1:16: expected a property or method name, found ';'"},
      {"class C { [FailNext(1)] string S; };",
       "1:12: FailNext and FailBeginEnumeration belong on an instance"},
      {"[FailNext(1)] class C {};",
       "1:2: FailNext and FailBeginEnumeration belong on an instance"},
      {"instance of C { Z; };", "1:18: expected '=', found ';'"},
      {decl + "instance of C { Z = 1; };", "2:17: class C has no property Z"},
      {decl + "instance of C { U = 1; u = 2; };",
       "2:24: property U is already set"},
      {decl + "instance of C { U = 256; };",
       "2:21: value out of range for uint8 property U"},
      {decl + "instance of C { U = -1; };",
       "2:21: value out of range for uint8 property U"},
      {decl + "instance of C { S = -129; };",
       "2:21: value out of range for sint8 property S"},
      {decl + "instance of C { U = 1.5; };",
       "2:21: expected an integer for uint8 property U, found '1.5'"},
      {decl + "instance of C { U = \"1\"; };",
       "2:21: expected an integer for uint8 property U, found a string"},
      {decl + "instance of C { R = 1e39; };",
       "2:21: value out of range for real32 property R"},
      {decl + "instance of C { B = 1; };", "2:21: expected TRUE or FALSE"},
      {decl + "instance of C { T = TRUE; };",
       "2:21: expected a string for string property T"},
      {decl + "instance of C { T = 'a'; };", "2:21: expected a string"},
      {decl + "instance of C { D = \"2024\"; };", "2:21: expected a datetime"},
      {decl + "instance of C { O = \"x\"; };", "2:21: expected 'instance of'"},
      {decl + "instance of C { H = 65536; };",
       "2:21: value out of range for char16 property H"},
      {decl + "instance of C { A = 1; };",
       "2:21: expected '{' for the array property A"},
      {decl + "instance of C { A = {1, \"2\"}; };",
       "2:25: expected an integer for uint32 property A"},
      {decl + "instance of C { A = {{1}}; };", "2:22: expected an integer"},
      {decl + "instance of C { U = 1 };", "2:23: expected ';', found '}'"},
      {decl + "instance of C { U = 1; }", "2:25: expected ';', found end of"},
      {decl + "instance of C { [FailBeginEnumeration(1)] U = 1; };",
       "2:18: FailBeginEnumeration belongs on an instance, not a property"},
      {"[FailNext(\"x\")] instance of C {};",
       "1:11: expected a 32-bit status code"},
      {"[FailNext(0x100000000)] instance of C {};",
       "1:11: expected a 32-bit status code"},
      {"[FailNext(-2147483649)] instance of C {};",
       "1:11: expected a 32-bit status code"},
      {"[Key instance of C {};", "1:6: expected ',', found 'instance'"},
      {"#pragma namespace(\"root\\\\\\\\x\")",
       "1:19: expected a namespace path such as \"root\\\\cimv2\""},
      {"#pragma autorecovery", "1:9: expected pragma amendment, autorecover"},
      {"#pragma fail(\"Release\", 1)", "1:14: expected an operation"},
      {"#pragma fail(\"ExecQuery\")", "1:25: expected ','"},
      {"#pragma fail(\"ExecQuery\", 0x80041001", "1:37: expected ')'"},
      {"#include \"x.mof\"", "1:2: expected 'pragma'"},
      {"/* open", "1:1: unterminated comment: expected '*/'"},
      {"class C {\n\t@", "2:2: unexpected character '@'"},
      {"\xC3\xA9", "1:1: unexpected byte 0xC3"},
      {std::string("class C {\0};", 12), "1:10: unexpected byte 0x00"},
      {decl + "instance of C { T = \"abc\n\"; };",
       "2:21: unterminated string: expected '\"'"},
      {decl + "instance of C { T = \"a\\q\"; };", "2:23: unknown escape"},
      {decl + "instance of C { T = \"a\\x\"; };",
       "2:23: expected hexadecimal digits after '\\x'"},
      {decl + "instance of C { H = ''; };", "2:21: expected one character"},
      {decl + "instance of C { H = 'ab'; };", "2:21: unterminated character"},
      {decl + "instance of C { H = '\xF0\x9F\x98\x80'; };",
       "2:21: a char16 holds one UTF-16 code unit"},
      {decl + "instance of C { U = 0x; };", "2:21: expected hexadecimal"},
      {decl + "instance of C { U = 12ab; };", "2:21: malformed number"},
      {decl + "instance of C { U = 1.2.3; };", "2:21: malformed number"},
      {decl + "instance of C { U = 99999999999999999999; };",
       "2:21: integer out of range"},
      {decl + "instance of C { R = 1e999; };",
       "2:21: real number out of range"},
      {decl + "instance of C { U = - 1; };", "2:21: unexpected character '-'"},
      {std::string("\xFF\xFE"
                   "c\0\n\0\0\xD8",
                   8),
       "2:1: unpaired UTF-16 surrogate"},
      {std::string("\xFF\xFE"
                   "c\0\n\0x",
                   7),
       "2:1: UTF-16 text ends in half a code unit"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    MofRepository repo;
    std::string error;
    EXPECT_FALSE(ParseMof(c.text, "t.mof", repo, error));
    EXPECT_EQ(error.rfind(std::string("t.mof:") + c.error, 0), 0u) << error;
    EXPECT_EQ(repo.provider, nullptr);
  }
}

TEST(Mof, RefusesDeepNestingWithoutExhaustingTheStack) {
  std::string text = "class C { object O; };\ninstance of C { O = ";
  for (int i = 0; i < 100000; ++i) text += "instance of C { O = ";
  MofRepository repo;
  std::string error;
  EXPECT_FALSE(ParseMof(text, "t.mof", repo, error));
  EXPECT_NE(error.find("embedded instances nested more than 32 deep"),
            std::string::npos)
      << error;

  std::string ok = "class C { object O; };\ninstance of C { O = NULL; };";
  for (int i = 0; i < 32; ++i)
    ok.replace(ok.find("NULL"), 4, "instance of C { O = NULL; }");
  MustParse(ok);
}

// What the WMI compiler reads beyond kGood, for the truncation test.
const char kCompiler[] = R"(#pragma namespace("\\\\.\\root")
instance of __Namespace { Name = "x"; };
#pragma namespace("x")
#PRAGMA autorecover
#pragma classflags("forceupdate")
Qualifier Q : uint8[] = {1}, Scope(any), Flavor(Amended);
class Base : Unknown { [key] string K; uint32 U = 017; real32 R; };
class Derived : Base { uint32 U = 101b; uint8 F[4]; Base E; object ref O;
  [EmbeddedInstance("Base")] string I;
  uint32 M([in] string A, [out] Base ref B[] = {}); void V(); };
instance of __Win32Provider as $P { Name = "p"; };
instance of __InstanceProviderRegistration { provider = $P; };
instance of Derived as $D { K = "d"; O = $Later; E = $P;
  I = instance of Base { K = "i"; }; };
instance of Base as $Later { K = "l"; U = +0x5; R = .5e1; };
instance of Disk { Size = "4581445632"; Tags = {"a", NULL}; Link = $D; };
class Base { [key] string K; uint32 U; string New; };
#pragma deleteinstance("Base.K='l'", NOFAIL)
#pragma deleteclass("Disk", FAIL)
)";

// Every prefix of a good file is either accepted or refused with a message;
// none may crash, hang or read past its end (the sanitizer build checks).
TEST(Mof, SurvivesEveryTruncation) {
  for (std::string_view text : {kGood, kCompiler}) {
    MustParse(text);
    for (size_t n = 0; n <= text.size(); ++n) {
      MofRepository repo;
      std::string error;
      bool ok =
          ParseMof(std::string_view(text.data(), n), "t.mof", repo, error);
      EXPECT_EQ(ok, error.empty()) << n;
    }
  }
}

TEST(Mof, InjectsFailures) {
  MofRepository repo = MustParse(R"(
#pragma fail("oleinitialize", 0x80004005)
#pragma fail("CoInitializeSecurity", -2147023170)
#pragma fail("CoCreateInstance", 0x80004005)
#pragma fail("CoCreateInstance", 0x80040154)
#pragma fail("ExecQuery", 0xFFFFFFFF)
class C { string A; string B; };
[FailNext(0x80041001)] instance of C { A = "x"; };
[FailBeginEnumeration(0x80041002), Key, FailNext(0x80041003)]
instance of C { B = "y"; };
instance of C { A = "z"; [FailNext(0x80041004)] B = "w"; };
)");
  const InjectedFailures& f = repo.failures;
  EXPECT_EQ(f.oleInitialize, static_cast<HRESULT>(0x80004005));
  EXPECT_EQ(f.coInitializeSecurity, static_cast<HRESULT>(0x800706BE));
  EXPECT_EQ(f.coCreateInstance, REGDB_E_CLASSNOTREG);  // the last one counts
  EXPECT_EQ(f.connectServer, std::nullopt);
  EXPECT_EQ(f.execQuery, -1);

  auto all = InstancesOf(repo, "C");
  ASSERT_EQ(all.size(), 3u);
  EXPECT_EQ(all[0]->failNext, WBEM_E_FAILED);
  EXPECT_EQ(all[0]->failBeginEnumeration, std::nullopt);
  EXPECT_EQ(all[1]->failNext, WBEM_E_ACCESS_DENIED);
  EXPECT_EQ(all[1]->failBeginEnumeration, WBEM_E_NOT_FOUND);
  EXPECT_EQ(all[2]->failNext, std::nullopt);
  ASSERT_EQ(all[2]->failPropertyNext.size(), 2u);
  EXPECT_EQ(all[2]->failPropertyNext[0], std::nullopt);
  EXPECT_EQ(all[2]->failPropertyNext[1], WBEM_E_PROVIDER_FAILURE);

  // A file with an error injects nothing.
  MofRepository bad;
  std::string error;
  EXPECT_FALSE(
      ParseMof("#pragma fail(\"ExecQuery\", 1)\nclass", "t.mof", bad, error));
  EXPECT_EQ(bad.failures.execQuery, std::nullopt);
}

TEST(Mof, LoadsFilesAndReportsWhyNot) {
  std::string dir = ::testing::TempDir();
  std::string good = dir + "mof_test_good.mof";
  std::string bad = dir + "mof_test_bad.mof";
  std::ofstream(good) << "class C {};";
  std::ofstream(bad) << "class C {}";
  MofRepository repo;
  std::string error;
  EXPECT_EQ(LoadMofFiles(good, repo, error), S_OK);
  EXPECT_NE(repo.provider, nullptr);
  EXPECT_EQ(LoadMofFiles(bad, repo, error), WBEM_E_INVALID_SYNTAX);
  EXPECT_EQ(error, bad + ":1:11: expected ';', found end of file");
  EXPECT_EQ(LoadMofFiles(dir + "no/such.mof", repo, error),
            WBEM_E_INVALID_NAMESPACE);
  EXPECT_EQ(error, dir + "no/such.mof: No such file or directory");
  EXPECT_EQ(LoadMofFiles(dir, repo, error), WBEM_E_INVALID_NAMESPACE);
  EXPECT_EQ(error, dir + ": Is a directory");
  std::remove(good.c_str());
  std::remove(bad.c_str());
}

}  // namespace
}  // namespace posix_wmi
