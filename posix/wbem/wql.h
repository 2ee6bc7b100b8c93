// The WQL the stand-in WMI service answers: "SELECT <list> FROM <class>",
// where <list> is "*" or property names separated by commas. Works on a byte
// buffer (UTF-8) so that it can be driven by a fuzzer. Never compiled on
// Windows.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "posix/com.h"
#include "posix/wbem/provider.h"

namespace posix_wmi {

struct WqlQuery {
  bool all = false;                     // SELECT *
  std::vector<std::string> properties;  // as written; empty when `all`
  std::string className;                // as written
};

// Splits a query into its parts. Returns S_OK, or WBEM_E_INVALID_QUERY for
// anything but the one statement form (missing FROM, trailing words, WHERE,
// stray characters). Keywords are matched without regard to case.
HRESULT ParseWql(std::string_view text, WqlQuery& out);

// The indices into cls.properties that the query asks for, in declaration
// order and each once, whatever the order of the list. A system property
// (__CLASS, __PATH, ...) names none, except that __PATH and __RELPATH bring
// the key properties, which locate the object. Returns S_OK, or
// WBEM_E_INVALID_QUERY when a name is neither a property of cls nor a
// system property.
HRESULT ResolveSelection(const ClassDef& cls, const WqlQuery& query,
                         std::vector<size_t>& selected);

}  // namespace posix_wmi
