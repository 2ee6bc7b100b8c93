// A capture of WMI classes as one self-contained MOF text: each class's
// flattened declaration, read from its class object, and every instance
// with every non-system property in the order WMI walks them. Classes of
// embedded objects are declared too, and a class that a reference names
// without being captured gets an empty declaration, so that the text needs
// nothing outside itself.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "wmi/platform.h"

// Runs "SELECT * FROM `cls`" and hands each object returned to `visit`,
// stopping at the first failure, WMI's or the visit's (any result but S_OK).
HRESULT ForEachInstance(IWbemServices* services, const std::string& cls,
                        const std::function<HRESULT(IWbemClassObject*)>& visit);

struct CapturedClass;
class Redactor;
struct CapturedProperty;

class MofCapture {
 public:
  // `redactor`, when not null, replaces identifying values before they are
  // written.
  explicit MofCapture(IWbemServices* services, Redactor* redactor = nullptr);
  ~MofCapture();
  MofCapture(const MofCapture&) = delete;
  MofCapture& operator=(const MofCapture&) = delete;

  // Captures the class `name` (ANSI) and its instances: S_OK. Otherwise
  // returns the WMI status that stopped it (a success code when a property
  // walk ended short) and leaves the capture as it was before the call.
  HRESULT AddClass(const std::string& name);

  // The declarations, then the instances of every class added, in the
  // order added. UTF-8, "\n" line ends.
  std::string Text() const;

  // Values that MOF cannot carry and that were written as NULL, and classes
  // whose text would outgrow what a replay reads, one line each
  // ("Class.Property: why", "Class: why").
  const std::vector<std::string>& Losses() const { return losses_; }

 private:
  CapturedClass* Find(const std::string& name) const;
  CapturedClass* NewClass(const std::string& name);
  void Save(CapturedClass& cls);
  HRESULT ReadDefinition(IWbemClassObject* object, CapturedClass& cls);
  HRESULT AppendInstances(CapturedClass& cls, const std::string& queryName);
  HRESULT AppendObject(std::string& out, IWbemClassObject* object,
                       CapturedClass& cls, int depth);
  HRESULT AppendValue(std::string& out, const VARIANT& value, CIMTYPE type,
                      const std::string& where, int depth);
  HRESULT AppendEmbedded(std::string& out, IUnknown* unknown, int depth);
  HRESULT EmbeddedClass(IWbemClassObject* object, CapturedClass** cls);

  IWbemServices* services_;
  Redactor* redactor_;
  // Every class declared, in the order first met; those added by AddClass
  // carry their instances.
  std::vector<std::unique_ptr<CapturedClass>> classes_;
  std::unordered_map<std::string, CapturedClass*> byName_;  // lower case
  std::vector<std::string> losses_;
  size_t textBytes_ = 0;  // of every class's instances
  int nesting_ = 0;       // embedded objects around the one being written
  bool tooMuchText_ = false;
  // The AddClass under way, and the properties it changed as they were.
  uint64_t adding_ = 0;
  std::vector<std::pair<CapturedClass*, std::vector<CapturedProperty>>> saved_;
};
