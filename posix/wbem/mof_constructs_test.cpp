// The MOF reader on what the WMI compiler reads beyond plain classes and
// instances: number forms, declarations, instances of undeclared classes
// and aliases, each with the exact refusal of its malformed neighbours.
#include <gtest/gtest.h>

#include "posix/wbem/mof_testing.h"

namespace posix_wmi {
namespace {

const char kTypes[] =
    "class T { uint32 U; sint32 S; uint8 B; sint8 N; real64 R; uint64 W;"
    " sint64 V; string Str; uint32 A[]; string Texts[]; object O[]; };\n";

TEST(MofValues, ReadsNumbersAndTextAsTheCompilerDoes) {
  const struct {
    const char* value;  // "Property = value"
    CimScalar expected;
  } cases[] = {
      {"U = 017", uint64_t{15}},  // a leading 0 is octal
      {"U = 0", uint64_t{0}},
      {"S = -0101", int64_t{-65}},
      {"B = 101b", uint64_t{5}},
      {"N = -11B", int64_t{-3}},
      {"U = +7", uint64_t{7}},
      {"U = 0x1F", uint64_t{31}},
      {"R = .5", 0.5},
      {"R = -.25", -0.25},
      {"R = +1.5e2", 150.0},
      {"W = \"4581445632\"", uint64_t{4581445632}},
      {"W = \"0x10\"", uint64_t{16}},
      {"V = \"-42\"", int64_t{-42}},
      {"W = 18446744073709551615", UINT64_MAX},
      {"Str = 23", std::u16string(u"23")},
      {"Str = -5", std::u16string(u"-5")},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.value);
    MofRepository repo =
        MustParse(std::string(kTypes) + "instance of T { " + c.value + "; };");
    auto all = InstancesOf(repo, "T");
    ASSERT_EQ(all.size(), 1u);
    const ClassDef& cls = *all[0]->cls;
    std::string name =
        std::string(c.value).substr(0, std::string(c.value).find(' '));
    size_t i = 0;
    while (cls.properties[i].name != name) ++i;
    EXPECT_EQ(Item(*all[0], i), c.expected);
  }

  // A NULL array element is the element type's zero: WMI's arrays have no
  // NULL elements.
  MofRepository repo = MustParse(std::string(kTypes) +
                                 "instance of T { A = {1, NULL, 3};"
                                 " Texts = {NULL, \"b\"}; O = {NULL}; };");
  auto found = InstancesOf(repo, "T");
  ASSERT_EQ(found.size(), 1u);
  const Instance& inst = *found[0];
  EXPECT_EQ(inst.values[8].items,
            (std::vector<CimScalar>{uint64_t{1}, uint64_t{0}, uint64_t{3}}));
  EXPECT_EQ(inst.values[9].items,
            (std::vector<CimScalar>{std::u16string(), std::u16string(u"b")}));
  EXPECT_EQ(std::get<std::shared_ptr<const Instance>>(Item(inst, 10)), nullptr);

  std::string in = std::string(kTypes) + "instance of T { ";
  ExpectRefusals({
      {in + "U = 08; };",
       "2:21: malformed number: a leading 0 makes an octal number"},
      {in + "U = 102b; };",
       "2:21: malformed number: a binary number has only 0 and 1"},
      // The compiler's documentation gives reals to real properties only.
      {in + "U = 1.5; };",
       "2:21: expected an integer for uint32 property U, found '1.5'"},
      {in + "U = \"7\"; };",
       "2:21: expected an integer for uint32 property U, found a string"},
      {in + "W = \"12x\"; };",
       "2:21: expected an integer in the string for uint64 property W"},
      {in + "W = \"\"; };",
       "2:21: expected an integer in the string for uint64 property W"},
      {in + "W = \"99999999999999999999\"; };",
       "2:21: expected an integer in the string for uint64 property W"},
      {in + "W = \"-1\"; };", "2:21: value out of range for uint64 property W"},
      {in + "U = +; };", "2:21: unexpected character '+'"},
      {in + "R = .; };", "2:21: unexpected character '.'"},
      {in + "R = .5.5; };", "2:21: malformed number"},
  });
}

TEST(MofValues, ReadsTextThatIsNotUtf8AsWindows1252) {
  MofRepository repo = MustParse(
      "class C { string S; };\ninstance of C { S = \"\x80\xE9\x81\"; };");
  EXPECT_EQ(std::get<std::u16string>(Item(*InstancesOf(repo, "C")[0], 0)),
            u"\u20AC\u00E9\u0081");
}

TEST(MofDeclarations, ReadsClassesAsTheCompilerDoes) {
  MofRepository repo = MustParse(R"(
Qualifier Description : string = NULL, Scope(any), Flavor(Amended);
Qualifier Values : string[], Scope(property, method, parameter);
class Base { [key] string Name; string Kind = "base"; uint32 Size; };
class Derived : Base {
  [Override("Kind")] string Kind;
  uint32 Size = 5;
  uint8 Bytes[16];
  Base Embedded;
  Base Items[];
  object ref Anything;
  Base ref Owner;
  [EmbeddedInstance("Base")] string Config;
  [static] uint32 Create([in] string Name, [out] Base ref Made,
      [in, EmbeddedInstance("Base")] string Shape[] = {}, [in] uint32 Mode = 3);
  void Reset();
};
class Child : Not_Declared { string P; };
class MyProvider : __Win32Provider {};
instance of Derived { Name = "d";
  Config = instance of Base { Name = "c"; };
  Embedded = instance of Derived { Name = "e"; }; };
)");
  const ClassDef* derived = repo.provider->FindClass("Derived");
  ASSERT_NE(derived, nullptr);
  EXPECT_EQ(NamesOf(*derived), (std::vector<std::string>{
                                   "Name", "Kind", "Size", "Bytes", "Embedded",
                                   "Items", "Anything", "Owner", "Config"}));
  const auto& p = derived->properties;
  EXPECT_TRUE(p[0].key);
  EXPECT_FALSE(p[1].key);
  EXPECT_TRUE(p[3].isArray && p[3].type == CimType::kUint8);
  EXPECT_EQ(p[4].type, CimType::kObject);
  EXPECT_TRUE(p[5].isArray && p[5].type == CimType::kObject);
  EXPECT_EQ(p[6].type, CimType::kReference);
  EXPECT_EQ(p[6].refClass, "");
  EXPECT_EQ(p[7].refClass, "Base");
  EXPECT_EQ(p[8].type, CimType::kObject);
  auto deriveds = InstancesOf(repo, "Derived");
  ASSERT_EQ(deriveds.size(), 1u);
  const Instance& d = *deriveds[0];
  EXPECT_EQ(std::get<std::u16string>(Item(d, 1)), u"base");  // inherited
  EXPECT_EQ(std::get<uint64_t>(Item(d, 2)), 5u);             // overridden
  EXPECT_EQ(std::get<std::shared_ptr<const Instance>>(Item(d, 8))->cls->name,
            "Base");

  // A superclass not declared stands as a class without properties; the
  // system classes are there to derive from.
  const ClassDef* unknown = repo.provider->FindClass("Not_Declared");
  ASSERT_NE(unknown, nullptr);
  EXPECT_TRUE(unknown->properties.empty());
  EXPECT_EQ(repo.provider->FindClass("Child")->superclass, "Not_Declared");
  const ClassDef* mine = repo.provider->FindClass("MyProvider");
  EXPECT_EQ(mine->superclass, "__Win32Provider");
  EXPECT_TRUE(mine->properties.at(0).name == "Name" &&
              mine->properties.at(0).key);

  ExpectRefusals({
      {"Qualifier Q string;", "1:13: expected ':', found 'string'"},
      {"Qualifier Q : object;",
       "1:11: a qualifier holds a CIM type other than object and reference"},
      {"Qualifier Q : uint8 = 256;",
       "1:23: value out of range for uint8 property Q"},
      {"Qualifier Q : boolean, Scope(class), ToSubclass;",
       "1:38: expected Scope or Flavor, found 'ToSubclass'"},
      {"[Key] Qualifier Q : boolean;",
       "1:1: a qualifier declaration takes no qualifiers"},
      {"class C { void P; };", "1:16: only a method is of type void"},
      {"class C { uint32 M([in] string A, string a); };",
       "1:42: parameter a is already declared in method C.M"},
      {"class C { uint32 M(string A; };", "1:28: expected ')', found ';'"},
      {"class C { uint8 A[-1]; };", "1:19: expected ']', found '-1'"},
      {"class C { uint32 M() };", "1:22: expected ';', found '}'"},
      {"#pragma classflags(\"updateonly\")\nclass C {};",
       "2:7: class C is not declared, and #pragma classflags \"updateonly\" "
       "forbids new classes"},
      {"class A : B {}; class B : A {};",
       "1:23: class B would derive from itself"},
  });
}

TEST(MofDeclarations, UpdatesAClassDeclaredAgain) {
  MofRepository repo = MustParse(R"(
class C { string A; uint32 B = 1; };
class D : C { string X; };
instance of C { A = "a"; };
instance of D { A = "d"; X = "x"; };
class C { uint32 B = 2; string A; string New = "n"; };
)");
  EXPECT_EQ(NamesOf(*repo.provider->FindClass("C")),
            (std::vector<std::string>{"B", "A", "New"}));
  EXPECT_EQ(NamesOf(*repo.provider->FindClass("D")),
            (std::vector<std::string>{"B", "A", "New", "X"}));
  auto all = InstancesOf(repo, "C");
  ASSERT_EQ(all.size(), 2u);
  EXPECT_EQ(std::get<uint64_t>(Item(*all[0], 0)), 1u);  // the value it had
  EXPECT_EQ(std::get<std::u16string>(Item(*all[0], 1)), u"a");
  EXPECT_EQ(std::get<std::u16string>(Item(*all[0], 2)), u"n");
  EXPECT_EQ(std::get<std::u16string>(Item(*all[1], 3)), u"x");

  ExpectRefusals({
      {"class C { string A; };\ninstance of C { A = \"a\"; };\n"
       "class C { uint32 A; };",
       "3:7: property A of class C would change its type while an instance "
       "holds a value"},
  });
}

TEST(MofInstances, TypesUndeclaredClassesFromTheirValues) {
  MofRepository repo = MustParse(R"(
instance of Disk { Name = "C:"; Size = "4581445632"; Type = 3;
  Big = 3000000000; Neg = -3000000000; Huge = 9223372036854775808;
  Ratio = 0.5; Ok = TRUE; Letter = 'C'; Tags = {"a", "b"}; Empty = {};
  Later = NULL; Inner = instance of Piece { N = 1; }; };
instance of Disk { Name = "D:"; Later = 7; Extra = FALSE; };
)");
  const ClassDef& disk = *repo.provider->FindClass("Disk");
  EXPECT_EQ(NamesOf(disk),
            (std::vector<std::string>{"Name", "Size", "Type", "Big", "Neg",
                                      "Huge", "Ratio", "Ok", "Letter", "Tags",
                                      "Empty", "Later", "Inner", "Extra"}));
  const CimType expected[] = {
      CimType::kString, CimType::kString, CimType::kSint32, CimType::kUint32,
      CimType::kSint64, CimType::kUint64, CimType::kReal64, CimType::kBoolean,
      CimType::kChar16, CimType::kString, CimType::kString, CimType::kSint32,
      CimType::kObject, CimType::kBoolean};
  for (size_t i = 0; i < disk.properties.size(); ++i) {
    SCOPED_TRACE(disk.properties[i].name);
    EXPECT_EQ(disk.properties[i].type, expected[i]);
    EXPECT_EQ(disk.properties[i].isArray, i == 9 || i == 10);
  }
  auto all = InstancesOf(repo, "Disk");
  ASSERT_EQ(all.size(), 2u);
  // Values stop short of properties an open class gained later: NULL.
  for (const auto& inst : all)
    EXPECT_LE(inst->values.size(), disk.properties.size());
  EXPECT_TRUE(all[0]->values.size() <= 13 || all[0]->values[13].isNull);
  EXPECT_EQ(std::get<int64_t>(Item(*all[1], 11)), 7);
  EXPECT_EQ(repo.provider->FindClass("Piece")->properties[0].type,
            CimType::kSint32);

  ExpectRefusals({
      {"instance of X { A = 1; };\ninstance of X { A = \"s\"; };",
       "2:21: expected an integer for sint32 property A, found a string"},
      {"instance of X { A = {1, \"s\"}; };",
       "1:25: expected an integer for sint32 property A, found a string"},
      {"instance of X { A = ; };",
       "1:21: expected a value for property A, found ';'"},
      {"instance of X { A = 1; a = 2; };", "1:24: property A is already set"},
  });
}

TEST(MofAliases, StandForObjectPathsOrInstances) {
  MofRepository repo = MustParse(R"(
class Owner { [key] string Name; [key] uint32 Id; };
class Link { [key] Owner ref Of; Owner ref Other; object Whole; };
class Single { string S; };
instance of Link as $L { Of = $O; Other = $S; };
instance of Owner as $O { Id = 7; Name = "a \"q\" \\"; };
instance of Single as $S { S = "x"; };
instance of Link { Of = $L; Whole = $O; };
)");
  auto links = InstancesOf(repo, "Link");
  ASSERT_EQ(links.size(), 2u);
  // Later in the file, keys in name order, quotes and backslashes escaped.
  EXPECT_EQ(std::get<std::u16string>(Item(*links[0], 0)),
            uR"(Owner.Id=7,Name="a \"q\" \\")");
  EXPECT_EQ(std::get<std::u16string>(Item(*links[0], 1)), u"Single=@");
  // A key that is an alias is resolved before the path that holds it.
  EXPECT_EQ(std::get<std::u16string>(Item(*links[1], 0)),
            uR"(Link.Of="Owner.Id=7,Name=\"a \\\"q\\\" \\\\\"")");
  EXPECT_EQ(std::get<std::shared_ptr<const Instance>>(Item(*links[1], 2)),
            InstancesOf(repo, "Owner")[0]);

  ExpectRefusals({
      {"instance of X { R = $Nope; };", "1:21: undefined alias $Nope"},
      {"instance of X as $A {};\ninstance of X as $a {};",
       "2:18: alias $a is already defined"},
      {"class C { string S = $A; };",
       "1:22: an alias stands only in an instance's values"},
      {"class C { object O; };\ninstance of C { O = $A; };\n"
       "instance of C as $A {};",
       "2:21: alias $A is not defined before this point, where its instance "
       "is embedded"},
      {"class K { [key] K ref R; };\ninstance of K as $A { R = $B; };\n"
       "instance of K as $B { R = $A; };",
       "2:27: alias $B names an instance whose keys refer back to it"},
      {"class C { uint32 U; };\ninstance of C as $A { U = $A; };",
       "2:27: expected a value for uint32 property U, found '$A'"},
  });
}

// "ref" after "object" is the name when no name follows it, as a capture
// writes a property of that name.
TEST(MofClasses, ReadRefAsANameWhereNoNameFollows) {
  const struct {
    const char* text;
    CimType type;
    bool isArray;
  } cases[] = {
      {"class C { object ref; };", CimType::kObject, false},
      {"class C { object ref[] = {}; };", CimType::kObject, true},
      {"class C { C ref ref; };", CimType::kReference, false},
      {"class C { uint32 M(object ref); object ref; };", CimType::kObject,
       false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    MofRepository repo = MustParse(c.text);
    const ClassDef* cls = repo.provider->FindClass("C");
    ASSERT_TRUE(cls && cls->properties.size() == 1);
    EXPECT_EQ(cls->properties[0].name, "ref");
    EXPECT_EQ(cls->properties[0].type, c.type);
    EXPECT_EQ(cls->properties[0].isArray, c.isArray);
  }
}

}  // namespace
}  // namespace posix_wmi
