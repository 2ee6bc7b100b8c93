// The MOF reader's repository: the classes and instances read so far, as the
// Provider the stand-in WMI service answers from, and what the reader knows
// of CIM types. Never compiled on Windows.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "posix/wbem/provider.h"

namespace posix_wmi {

class MofProvider : public Provider {
 public:
  const ClassDef* FindClass(std::string_view name) const override;
  HRESULT Instances(const ClassDef& cls, const std::vector<size_t>& selected,
                    std::vector<std::shared_ptr<const Instance>>& out) override;

  // Takes the class; FindClass finds it from then on.
  const ClassDef* AddClass(std::unique_ptr<ClassDef> def);
  void AddInstance(std::shared_ptr<const Instance> inst);

 private:
  bool IsA(const ClassDef* c, const ClassDef* target) const;

  std::vector<std::unique_ptr<ClassDef>> classes_;
  std::map<std::string, const ClassDef*> byName_;
  std::vector<std::shared_ptr<const Instance>> instances_;
};

// The type a MOF keyword (sint8 .. uint64, real32, real64, boolean, string,
// datetime, char16, object) names, matched without regard to case.
std::optional<CimType> CimTypeNamed(std::string_view keyword);

// The MOF keyword of a type, for messages ("reference" for references).
const char* TypeText(CimType t);

// For integer types (char16 included): the largest magnitudes below and
// above zero. False for every other type.
bool IntegerBounds(CimType t, uint64_t* negMax, uint64_t* posMax);

// Whether an integer type's values are held as int64_t rather than uint64_t.
bool IsSigned(CimType t);

// A CIM datetime: "yyyymmddHHMMSS.mmmmmmsUUU" (s is '+' or '-') or the
// interval "ddddddddHHMMSS.mmmmmm:000"; '*' stands for an unknown digit.
bool IsDatetime(const std::u16string& s);

}  // namespace posix_wmi
