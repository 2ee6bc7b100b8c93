// This machine's facts as root\cimv2 classes: the live provider that the
// stand-in WMI service uses when no repository file is named.
#include <cctype>
#include <fstream>
#include <sstream>

#include "posix/provider.h"

namespace posix_wmi {
namespace {

std::u16string Widen(const std::string& s) {
  std::u16string out;
  for (unsigned char c : s) out.push_back(c);
  return out;
}

// Firmware strings come with a trailing newline and sometimes blank padding.
std::optional<std::string> ReadTrimmed(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::ostringstream buf;
  buf << in.rdbuf();
  if (in.bad()) return std::nullopt;
  std::string s = buf.str();
  while (!s.empty() &&
         (s.back() == '\n' || s.back() == ' ' || s.back() == '\t' ||
          s.back() == '\r' || s.back() == '\0'))
    s.pop_back();
  return s;
}

class LiveProvider : public Provider {
 public:
  explicit LiveProvider(std::string root) : root_(std::move(root)) {
    cs_.name = "Win32_ComputerSystem";
    cs_.properties.push_back({"Model", CimType::kString, false, ""});
  }
  const ClassDef* FindClass(std::string_view name) const override {
    if (name.size() != cs_.name.size()) return nullptr;
    for (size_t i = 0; i < name.size(); ++i)
      if (std::tolower(static_cast<unsigned char>(name[i])) !=
          std::tolower(static_cast<unsigned char>(cs_.name[i])))
        return nullptr;
    return &cs_;
  }
  HRESULT Instances(
      const ClassDef& cls, const std::vector<size_t>& selected,
      std::vector<std::shared_ptr<const Instance>>& out) override {
    auto inst = std::make_shared<Instance>();
    inst->cls = &cls;
    inst->values.resize(cls.properties.size());
    for (size_t i : selected) {
      if (i != 0) continue;
      auto model = ReadTrimmed(root_ + "/sys/class/dmi/id/product_name");
      if (model) inst->values[0] = CimValue{false, {Widen(*model)}};
    }
    out.push_back(inst);
    return S_OK;
  }

 private:
  std::string root_;
  ClassDef cs_;
};

}  // namespace

std::unique_ptr<Provider> MakeLiveProvider(const std::string& fsRoot) {
  return std::make_unique<LiveProvider>(fsRoot);
}

}  // namespace posix_wmi
