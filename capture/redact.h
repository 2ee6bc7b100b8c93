// Captures that can leave the machine: the values of identifying
// properties (serial numbers, UUIDs, user, domain and host names, product
// IDs, MAC and IP addresses, asset tags; the table in redact.cpp, which the
// README lists) replaced by placeholders of the same type. One Redactor
// serves one output file: the same value gets the same placeholder
// wherever it is met, so that a replay still tells two disks apart and
// still sees that two classes name the same machine.
#pragma once

#include <map>
#include <string>
#include <string_view>
#include <utility>

#include "wmi/platform.h"

// Whether a WMI name matches `pattern`, ignoring ASCII case as WMI does; a
// pattern "*Tail" matches every name that ends with "Tail".
bool Matches(std::string_view name, std::string_view pattern);

class Redactor {
 public:
  // Replaces `value`, a property's value as WMI hands it out, when the
  // property `property` of class `cls` is identifying: a string (or each
  // string of an array) by a placeholder in the form of its kind
  // ("REDACTED-N", a MAC, UUID, IPv4 or IPv6 address of the ranges kept
  // for examples), an integer by a counter. NULL, empty strings, reals,
  // booleans, datetimes, references and embedded objects stay. Returns
  // S_OK, or WBEM_E_OUT_OF_MEMORY with `value` unchanged or partly
  // replaced.
  HRESULT Apply(const std::string& cls, const std::string& property,
                CIMTYPE type, VARIANT* value);

  // The placeholder of the machine's name: the one its
  // Win32_ComputerSystem.Name gets.
  std::string MachineName(const std::string& name);

  enum class Kind { kText, kMac, kUuid, kIp4, kIp6, kNumber };

 private:
  std::string Placeholder(Kind kind, const std::string& value);

  std::map<std::pair<Kind, std::string>, std::string> given_;
  std::map<Kind, unsigned> counts_;
};
