// Facts about the processors: /proc/cpuinfo for packages, cores, names and
// flags, /sys/devices/system/cpu for the online count and the top clock, and
// the kernel's machine name for what Windows calls the architecture.
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <set>

#include "posix/live/facts.h"

namespace posix_wmi {
namespace {

// "key<tabs>: value" lines of one processor's paragraph.
using Fields = std::vector<std::pair<std::string_view, std::string_view>>;

std::optional<std::string_view> Field(const Fields& fields,
                                      std::string_view key) {
  for (const auto& [k, v] : fields)
    if (k == key) return v;
  return std::nullopt;
}

bool HasWord(std::string_view list, std::string_view word) {
  size_t at = 0;
  while (at < list.size()) {
    size_t sp = list.find(' ', at);
    if (sp == std::string_view::npos) sp = list.size();
    if (list.substr(at, sp - at) == word) return true;
    at = sp + 1;
  }
  return false;
}

// Physical ids are numbers on every kernel; sorting them as numbers keeps
// package 10 after package 2.
bool PackageBefore(const CpuPackage& a, const CpuPackage& b) {
  uint32_t x, y;
  if (ParseU32(a.physicalId, x) && ParseU32(b.physicalId, y)) return x < y;
  return a.physicalId < b.physicalId;
}

}  // namespace

CpuInfo ParseCpuInfo(std::string_view text) {
  CpuInfo info;
  std::vector<Fields> paragraphs(1);
  while (!text.empty()) {
    std::string_view line = NextLine(text);
    size_t colon = line.find(':');
    if (Trim(line).empty()) {
      if (!paragraphs.back().empty()) paragraphs.emplace_back();
    } else if (colon != std::string_view::npos) {
      paragraphs.back().emplace_back(Trim(line.substr(0, colon)),
                                     Trim(line.substr(colon + 1)));
    }
  }

  struct Building {
    CpuPackage pkg;
    std::set<std::string> coreIds;
    std::optional<uint32_t> cpuCores;
  };
  std::vector<Building> packages;
  for (const Fields& fields : paragraphs) {
    if (auto flags = Field(fields, "flags"))
      info.hypervisor =
          info.hypervisor.value_or(false) || HasWord(*flags, "hypervisor");
    uint32_t number;
    auto processor = Field(fields, "processor");
    // ARM kernels end the file with a paragraph about the board, without a
    // processor number; it describes no CPU.
    if (!processor || !ParseU32(*processor, number)) continue;
    std::string id(Field(fields, "physical id").value_or(""));
    auto it =
        std::find_if(packages.begin(), packages.end(),
                     [&](const Building& b) { return b.pkg.physicalId == id; });
    if (it == packages.end()) {
      packages.emplace_back();
      it = packages.end() - 1;
      it->pkg.physicalId = id;
    }
    CpuPackage& pkg = it->pkg;
    ++pkg.logical;
    if (auto core = Field(fields, "core id")) it->coreIds.emplace(*core);
    uint32_t cores;
    if (auto c = Field(fields, "cpu cores"); c && ParseU32(*c, cores))
      it->cpuCores = cores;
    if (pkg.firstCpu >= 0 && static_cast<uint32_t>(pkg.firstCpu) < number)
      continue;
    // The lowest-numbered processor speaks for the package.
    pkg.firstCpu = static_cast<int>(number);
    if (auto v = Field(fields, "model name")) pkg.modelName = std::string(*v);
    if (auto v = Field(fields, "vendor_id")) pkg.vendor = std::string(*v);
    pkg.mhz.reset();
    if (auto v = Field(fields, "cpu MHz")) {
      std::string s(*v);
      char* end = nullptr;
      double mhz = std::strtod(s.c_str(), &end);
      if (end && *end == '\0' && end != s.c_str() && std::isfinite(mhz) &&
          mhz >= 0 && mhz < 1e9)
        pkg.mhz = mhz;
    }
  }
  for (Building& b : packages) {
    b.pkg.cores = b.cpuCores           ? *b.cpuCores
                  : !b.coreIds.empty() ? static_cast<uint32_t>(b.coreIds.size())
                                       : b.pkg.logical;
    info.packages.push_back(std::move(b.pkg));
  }
  std::stable_sort(info.packages.begin(), info.packages.end(), PackageBefore);
  return info;
}

std::optional<uint32_t> CountCpuList(std::string_view text) {
  text = Trim(text);
  if (text.empty()) return std::nullopt;
  uint64_t count = 0;
  while (true) {
    size_t comma = text.find(',');
    std::string_view range = text.substr(0, comma);
    size_t dash = range.find('-');
    uint32_t lo, hi;
    if (!ParseU32(range.substr(0, dash), lo)) return std::nullopt;
    hi = lo;
    if (dash != std::string_view::npos &&
        (!ParseU32(range.substr(dash + 1), hi) || hi < lo))
      return std::nullopt;
    count += hi - lo + 1;
    if (count > UINT32_MAX) return std::nullopt;
    if (comma == std::string_view::npos) break;
    text = text.substr(comma + 1);
  }
  return static_cast<uint32_t>(count);
}

namespace {

enum class Arch { kX86, kX64, kArm64 };

std::optional<Arch> ArchOf(std::string_view m) {
  if (m == "x86_64" || m == "amd64") return Arch::kX64;
  if (m == "i386" || m == "i486" || m == "i586" || m == "i686")
    return Arch::kX86;
  if (m == "aarch64" || m == "arm64") return Arch::kArm64;
  return std::nullopt;
}

}  // namespace

std::optional<std::string> SystemTypeOf(std::string_view machine) {
  auto arch = ArchOf(machine);
  if (!arch) return std::nullopt;
  switch (*arch) {
    case Arch::kX86:
      return "x86-based PC";
    case Arch::kX64:
      return "x64-based PC";
    case Arch::kArm64:
      return "ARM64-based PC";
  }
  return std::nullopt;
}

std::optional<uint16_t> ProcessorArchitectureOf(std::string_view machine) {
  auto arch = ArchOf(machine);
  if (!arch) return std::nullopt;
  switch (*arch) {
    case Arch::kX86:
      return 0;
    case Arch::kX64:
      return 9;
    case Arch::kArm64:
      return 12;
  }
  return std::nullopt;
}

std::optional<std::string> OsArchitectureOf(std::string_view machine) {
  auto arch = ArchOf(machine);
  if (!arch) return std::nullopt;
  return *arch == Arch::kX86 ? "32-bit" : "64-bit";
}

const CpuInfo* LiveFacts::Cpu() {
  if (!cpu_) {
    const auto& text = File("/proc/cpuinfo");
    cpu_.emplace(text ? std::optional<CpuInfo>(ParseCpuInfo(*text))
                      : std::nullopt);
  }
  return *cpu_ ? &**cpu_ : nullptr;
}

std::optional<uint32_t> OnlineCpuCount(LiveFacts& f) {
  auto text = f.Text("/sys/devices/system/cpu/online");
  return text ? CountCpuList(*text) : std::nullopt;
}

std::optional<uint32_t> MaxClockSpeedMhz(LiveFacts& f, const CpuPackage& p) {
  if (p.firstCpu >= 0) {
    auto khz = f.Text("/sys/devices/system/cpu/cpu" +
                      std::to_string(p.firstCpu) + "/cpufreq/cpuinfo_max_freq");
    uint32_t v;
    if (khz && ParseU32(*khz, v)) return (v + 500) / 1000;
  }
  if (p.mhz) return static_cast<uint32_t>(std::lround(*p.mhz));
  return std::nullopt;
}

}  // namespace posix_wmi
