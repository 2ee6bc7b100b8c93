// Helpers of the MOF reader's unit tests: reading a text that must be read,
// one that must be refused, and a query's instances. Only tests include
// this. Never compiled on Windows.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "posix/wbem/mof.h"

namespace posix_wmi {

inline MofRepository MustParse(std::string_view text) {
  MofRepository repo;
  std::string error;
  EXPECT_TRUE(ParseMof(text, "t.mof", repo, error)) << error;
  EXPECT_EQ(error, "");
  return repo;
}

// The error of a text that must be refused, after "t.mof:".
inline std::string Refusal(std::string_view text) {
  MofRepository repo;
  std::string error;
  EXPECT_FALSE(ParseMof(text, "t.mof", repo, error));
  EXPECT_EQ(repo.provider, nullptr);
  EXPECT_EQ(error.rfind("t.mof:", 0), 0u) << error;
  return error.substr(error.find(':') + 1);
}

// A text and its refusal, after "t.mof:".
struct Refused {
  std::string text;
  const char* error;
};

inline void ExpectRefusals(const std::vector<Refused>& cases) {
  for (const Refused& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(Refusal(c.text), c.error);
  }
}

inline std::vector<std::shared_ptr<const Instance>> InstancesOf(
    Provider& provider, const char* name) {
  std::vector<std::shared_ptr<const Instance>> out;
  const ClassDef* cls = provider.FindClass(name);
  EXPECT_NE(cls, nullptr) << name;
  if (cls) {
    EXPECT_EQ(provider.Instances(*cls, {}, out), S_OK);
  }
  return out;
}
inline std::vector<std::shared_ptr<const Instance>> InstancesOf(
    MofRepository& repo, const char* name) {
  return InstancesOf(*repo.provider, name);
}

inline const CimScalar& Item(const Instance& inst, size_t prop, size_t k = 0) {
  return inst.values.at(prop).items.at(k);
}

inline std::vector<std::string> NamesOf(const ClassDef& cls) {
  std::vector<std::string> names;
  for (const PropertyDef& p : cls.properties) names.push_back(p.name);
  return names;
}

}  // namespace posix_wmi
