// The WQL parser: which statements pass, what they select, and which are
// refused.
#include "posix/wbem/wql.h"

#include <gtest/gtest.h>

#include "posix/wbem/wbemcli.h"

namespace posix_wmi {
namespace {

TEST(Wql, SplitsWellFormedQueries) {
  const struct Case {
    const char* text;
    bool all;
    std::vector<std::string> properties;
    const char* className;
  } cases[] = {
      {"SELECT Model FROM Win32_ComputerSystem",
       false,
       {"Model"},
       "Win32_ComputerSystem"},
      {"select * from c", true, {}, "c"},
      {"SELECT*FROM C", true, {}, "C"},
      {"SeLeCt a,b , c FrOm X_1", false, {"a", "b", "c"}, "X_1"},
      {" \t\r\nSELECT\ta\nFROM\vC\f ", false, {"a"}, "C"},
      {"SELECT _x FROM _Y", false, {"_x"}, "_Y"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    WqlQuery q;
    ASSERT_EQ(ParseWql(c.text, q), S_OK);
    EXPECT_EQ(q.all, c.all);
    EXPECT_EQ(q.properties, c.properties);
    EXPECT_EQ(q.className, c.className);
  }
}

TEST(Wql, RefusesEverythingElse) {
  const char* cases[] = {
      "",
      "   ",
      "SELECT",
      "SELECT *",
      "SELECT * FROM",
      "SELECT FROM C",
      "SELECT a C",
      "SELECT a, FROM C",
      "SELECT a,,b FROM C",
      "SELECT ,a FROM C",
      "SELECT *, a FROM C",
      "SELECT a, * FROM C",
      "SELECT * FROM C WHERE a = 1",
      "SELECT * FROM C trailing",
      "SELECT * FROM C;",
      "SELECT * FROM C, D",
      "SELECT * FROM FROM",
      "SELECT from FROM C",
      "SELECT 1a FROM C",
      "SELECT * FROM 9C",
      "SELECT a.b FROM C",
      "SELECT \"a\" FROM C",
      "ASSOCIATORS OF {C}",
      "SELECTa FROM C",
      "SELECT \xc3\xa9 FROM C",
  };
  for (const char* text : cases) {
    SCOPED_TRACE(text);
    WqlQuery q;
    EXPECT_EQ(ParseWql(text, q), WBEM_E_INVALID_QUERY);
  }
  WqlQuery q;
  EXPECT_EQ(ParseWql(std::string_view("SELECT a FROM C\0", 16), q),
            WBEM_E_INVALID_QUERY);
}

TEST(Wql, SelectionFollowsDeclarationOrder) {
  ClassDef cls;
  cls.name = "C";
  for (const char* name : {"Alpha", "Beta", "Gamma"})
    cls.properties.push_back(PropertyDef{name, CimType::kString, false, "",
                                         std::string_view(name) == "Gamma"});

  const struct Case {
    const char* text;
    HRESULT hr;
    std::vector<size_t> selected;
  } cases[] = {
      {"SELECT * FROM C", S_OK, {0, 1, 2}},
      {"SELECT gamma, ALPHA FROM C", S_OK, {0, 2}},
      {"SELECT Beta, beta FROM C", S_OK, {1}},
      {"SELECT Alpha, Delta FROM C", WBEM_E_INVALID_QUERY, {}},
      // Every result carries the system properties; a path needs the keys.
      {"SELECT __CLASS, __genus, __SERVER, __NAMESPACE, __DERIVATION, "
       "__DYNASTY, __SUPERCLASS, __PROPERTY_COUNT FROM C",
       S_OK,
       {}},
      {"SELECT Alpha, __Path FROM C", S_OK, {0, 2}},
      {"SELECT __RELPATH FROM C", S_OK, {2}},
      {"SELECT __KEY FROM C", WBEM_E_INVALID_QUERY, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    WqlQuery q;
    ASSERT_EQ(ParseWql(c.text, q), S_OK);
    std::vector<size_t> selected{99};
    EXPECT_EQ(ResolveSelection(cls, q, selected), c.hr);
    if (c.hr == S_OK) {
      EXPECT_EQ(selected, c.selected);
    }
  }
}

}  // namespace
}  // namespace posix_wmi
