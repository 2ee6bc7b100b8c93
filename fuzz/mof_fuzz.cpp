// Fuzzes the stand-in's MOF reader, and the repository it builds: the first
// line of the input is a WQL query, the rest the MOF text. A text that is
// read must give providers (one per namespace) that answer the query; a refused
// one must say where, as "<file>:<line>:<column>: <reason>", <file> being
// fuzz.mof or a file it includes.
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "fuzz/reader.h"
#include "posix/wbem/mof.h"
#include "posix/wbem/wql.h"

namespace {

bool IsDigits(std::string_view text) {
  if (text.empty()) return false;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
  }
  return true;
}

// "<file>:<line>:<column>: <reason>", the file named by at least one
// character.
bool IsLocatedError(const std::string& error) {
  for (size_t at = error.find(':', 1); at != std::string::npos;
       at = error.find(':', at + 1)) {
    const size_t lineEnd = error.find(':', at + 1);
    if (lineEnd == std::string::npos) return false;
    const size_t columnEnd = error.find(": ", lineEnd + 1);
    if (columnEnd == std::string::npos) return false;
    const std::string_view text(error);
    if (IsDigits(text.substr(at + 1, lineEnd - at - 1)) &&
        IsDigits(text.substr(lineEnd + 1, columnEnd - lineEnd - 1)) &&
        error.size() > columnEnd + 2)
      return true;
  }
  return false;
}

// Reads every value, so that a dangling or half-built one shows under ASan.
size_t Touch(const posix_wmi::Instance& instance, int depth) {
  using posix_wmi::CimScalar;
  FUZZ_CHECK(instance.cls);
  FUZZ_CHECK(instance.values.size() <= instance.cls->properties.size());
  size_t total = 0;
  for (const posix_wmi::CimValue& value : instance.values) {
    FUZZ_CHECK(!value.isNull || value.items.empty());
    for (const CimScalar& item : value.items) {
      if (const auto* text = std::get_if<std::u16string>(&item)) {
        total += text->size();
      } else if (const auto* object =
                     std::get_if<std::shared_ptr<const posix_wmi::Instance>>(
                         &item)) {
        if (*object && depth < 16) total += Touch(**object, depth + 1);
      } else {
        ++total;
      }
    }
  }
  return total;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const size_t newline = input.find('\n');
  const std::string_view query =
      newline == std::string_view::npos ? input : input.substr(0, newline);
  const std::string_view mof = newline == std::string_view::npos
                                   ? std::string_view()
                                   : input.substr(newline + 1);

  posix_wmi::MofRepository repository;
  std::string error;
  if (!posix_wmi::ParseMof(mof, "fuzz.mof", repository, error)) {
    FUZZ_CHECK(!repository.provider);
    FUZZ_CHECK(IsLocatedError(error));
    return 0;
  }
  FUZZ_CHECK(repository.provider);

  posix_wmi::WqlQuery parsed;
  if (posix_wmi::ParseWql(query, parsed) != S_OK) return 0;
  // The query goes to every namespace the text made, root\cimv2 first.
  std::vector<posix_wmi::Provider*> providers{repository.provider.get()};
  for (const auto& entry : repository.namespaces)
    providers.push_back(entry.second.get());
  size_t total = 0;
  for (posix_wmi::Provider* provider : providers) {
    const posix_wmi::ClassDef* cls = provider->FindClass(parsed.className);
    if (!cls) continue;
    posix_wmi::Selection selection;
    selection.all = parsed.all;
    if (posix_wmi::ResolveSelection(*cls, parsed, selection.properties) != S_OK)
      continue;
    std::vector<std::shared_ptr<const posix_wmi::Instance>> instances;
    FUZZ_CHECK(provider->Instances(*cls, selection, instances) == S_OK);
    for (const auto& instance : instances) {
      FUZZ_CHECK(instance);
      total += Touch(*instance, 0);
    }
  }
  volatile size_t sink = total;
  (void)sink;
  return 0;
}
