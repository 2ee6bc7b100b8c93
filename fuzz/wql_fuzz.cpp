// Fuzzes the stand-in's WQL parser: any text is refused or split into a
// class and a select list that, written out again, parses to the same thing;
// and the selection over a fixed class holds only its properties, in order,
// each once.
#include <string>
#include <string_view>

#include "fuzz/reader.h"
#include "posix/wbem/names.h"
#include "posix/wbem/wql.h"

namespace {

bool IsName(const std::string& name) {
  if (name.empty()) return false;
  for (size_t i = 0; i < name.size(); ++i) {
    const char c = name[i];
    const bool letter =
        (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_';
    if (!letter && !(i > 0 && c >= '0' && c <= '9')) return false;
  }
  return true;
}

const posix_wmi::ClassDef& TestClass() {
  static const posix_wmi::ClassDef cls = [] {
    posix_wmi::ClassDef c;
    c.name = "Win32_CDROMDrive";
    for (const char* name : {"Caption", "DeviceID", "Drive", "MediaLoaded"}) {
      posix_wmi::PropertyDef p;
      p.name = name;
      c.properties.push_back(p);
    }
    return c;
  }();
  return cls;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  posix_wmi::WqlQuery query;
  if (posix_wmi::ParseWql(text, query) != S_OK) return 0;

  FUZZ_CHECK(IsName(query.className));
  FUZZ_CHECK(query.all == query.properties.empty());
  std::string again = "select ";
  if (query.all) again += "*";
  for (size_t i = 0; i < query.properties.size(); ++i) {
    FUZZ_CHECK(IsName(query.properties[i]));
    if (i) again += " , ";
    again += query.properties[i];
  }
  again += "\tFROM\n" + query.className;
  posix_wmi::WqlQuery reparsed;
  FUZZ_CHECK(posix_wmi::ParseWql(again, reparsed) == S_OK);
  FUZZ_CHECK(reparsed.all == query.all);
  FUZZ_CHECK(reparsed.properties == query.properties);
  FUZZ_CHECK(reparsed.className == query.className);

  const posix_wmi::ClassDef& cls = TestClass();
  std::vector<size_t> selected;
  if (posix_wmi::ResolveSelection(cls, query, selected) != S_OK) return 0;
  for (size_t i = 0; i < selected.size(); ++i) {
    FUZZ_CHECK(selected[i] < cls.properties.size());
    if (i) FUZZ_CHECK(selected[i - 1] < selected[i]);
    bool asked = query.all;
    for (const std::string& name : query.properties) {
      asked =
          asked || posix_wmi::SameName(name, cls.properties[selected[i]].name);
    }
    FUZZ_CHECK(asked);
  }
  if (query.all) FUZZ_CHECK(selected.size() == cls.properties.size());
  return 0;
}
