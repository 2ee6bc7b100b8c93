// What the live provider's tests share: the machine trees, a query run as
// the service runs it, its instances as text, and scratch trees.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>  // NOLINT(modernize-deprecated-headers): setenv is POSIX
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "posix/live/facts.h"

namespace posix_wmi {
namespace {

namespace fs = std::filesystem;

std::string Machine(const char* name) {
  return (fs::path(__FILE__).parent_path().parent_path().parent_path() /
          "tests" / "machines" / name)
      .string();
}

std::string Narrow(const std::u16string& s) {
  std::string out;
  for (char16_t c : s) out.push_back(c < 0x80 ? static_cast<char>(c) : '?');
  return out;
}

std::string Render(const CimScalar& item) {
  if (auto* s = std::get_if<std::u16string>(&item)) return Narrow(*s);
  if (auto* u = std::get_if<uint64_t>(&item)) return std::to_string(*u);
  if (auto* b = std::get_if<bool>(&item)) return *b ? "TRUE" : "FALSE";
  return "?";
}

// One instance as "Name=value" lines; NULL as "<null>", arrays as "{a,b}".
std::string Render(const Instance& inst, const std::vector<size_t>& selected) {
  std::string out;
  for (size_t p : selected) {
    const CimValue& v = inst.values[p];
    out += inst.cls->properties[p].name + "=";
    if (v.isNull) {
      out += "<null>";
    } else if (inst.cls->properties[p].isArray) {
      out += "{";
      for (size_t i = 0; i < v.items.size(); ++i)
        out += (i ? "," : "") + Render(v.items[i]);
      out += "}";
    } else {
      out += Render(v.items[0]);
    }
    out += "\n";
  }
  return out;
}

// Runs a query the way the service does and renders every instance.
// `props` empty selects all properties.
std::vector<std::string> Query(LiveFacts& facts, const char* cls,
                               std::vector<std::string> props = {}) {
  auto provider = MakeLiveProvider(facts.root());
  const ClassDef* def = provider->FindClass(cls);
  EXPECT_NE(def, nullptr) << cls;
  if (!def) return {};
  std::vector<size_t> selected;
  for (size_t i = 0; i < def->properties.size(); ++i)
    if (props.empty() || std::find(props.begin(), props.end(),
                                   def->properties[i].name) != props.end())
      selected.push_back(i);
  std::vector<std::shared_ptr<const Instance>> out;
  EXPECT_EQ(LiveInstances(*def, selected, facts, out), S_OK);
  std::vector<std::string> rendered;
  rendered.reserve(out.size());
  for (const auto& inst : out) rendered.push_back(Render(*inst, selected));
  return rendered;
}

std::vector<std::string> Query(const char* machine, const char* cls,
                               std::vector<std::string> props = {}) {
  LiveFacts facts(Machine(machine));
  return Query(facts, cls, std::move(props));
}

class ScopedTz {
 public:
  explicit ScopedTz(const char* tz) {
    const char* old = getenv("TZ");
    if (old) old_ = old;
    setenv("TZ", tz, 1);
    tzset();
  }
  ~ScopedTz() {
    if (old_)
      setenv("TZ", old_->c_str(), 1);
    else
      unsetenv("TZ");
    tzset();
  }

 private:
  std::optional<std::string> old_;
};

// A scratch machine tree, removed at the end of the test.
class TempTree {
 public:
  TempTree() {
    char tmpl[] = "/tmp/live_test_XXXXXX";
    root_ = mkdtemp(tmpl);
  }
  ~TempTree() { fs::remove_all(root_); }
  void Write(const std::string& path, const std::string& data) {
    fs::create_directories(fs::path(root_ + path).parent_path());
    std::ofstream(root_ + path, std::ios::binary) << data;
  }
  void Link(const std::string& path, const std::string& target) {
    fs::create_directories(fs::path(root_ + path).parent_path());
    fs::create_symlink(target, root_ + path);
  }
  const std::string& root() const { return root_; }

 private:
  std::string root_;
};

}  // namespace
}  // namespace posix_wmi
