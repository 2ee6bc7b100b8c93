// A capture of WMI classes as one JSON document, for programs that read
// many captures:
//   {"machine": NAME, "captured": UTC TIME, "version": TOOL VERSION,
//    "classes": {CLASS: [INSTANCE, ...], ...}}
// Each instance is an object of its non-system properties in the order WMI
// walks them; an embedded object is an object too, its class first as
// "__CLASS". Values take their JSON form (json_text.h).
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "wmi/platform.h"

class Redactor;

class JsonCapture {
 public:
  // `redactor`, when not null, replaces identifying values before they are
  // written.
  JsonCapture(IWbemServices* services, Redactor* redactor);

  // Captures the instances of the class `name` (ANSI): S_OK. Otherwise
  // returns the WMI status that stopped it (a success code when a property
  // walk ended short) and leaves the capture as it was before the call.
  HRESULT AddClass(const std::string& name);

  // The document: UTF-8 throughout, one instance a line, "\n" line ends.
  // `machine` and `captured` are UTF-8.
  std::string Text(const std::string& machine, const std::string& captured,
                   const std::string& version) const;

  // Values written as null that WMI gave otherwise, one line each
  // ("Class.Property: why").
  const std::vector<std::string>& Losses() const { return losses_; }

 private:
  HRESULT AppendInstances(std::string& out, const std::string& cls,
                          const std::string& queryName);
  HRESULT AppendObject(std::string& out, IWbemClassObject* object,
                       const std::string& cls, bool embedded, int depth);
  HRESULT AppendValue(std::string& out, const VARIANT& value, CIMTYPE type,
                      const std::string& where, int depth);
  HRESULT AppendEmbedded(std::string& out, IUnknown* unknown, int depth);

  IWbemServices* services_;
  Redactor* redactor_;
  // Each class captured, as WMI spells it, and its instances' JSON.
  std::vector<std::pair<std::string, std::string>> classes_;
  std::vector<std::string> losses_;
};
