// Facts about the processors: /proc/cpuinfo for packages, cores, names and
// flags, /sys/devices/system/cpu for the online count and the top clock, and
// the kernel's machine name for what Windows calls the architecture.
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <tuple>

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

// One processor's paragraph, as far as grouping needs it; the rest is read
// again from `paragraph` for the one processor that speaks for a package.
struct Processor {
  std::string_view paragraph;
  std::string_view id;
  std::optional<std::string_view> core;
  std::optional<uint32_t> cpuCores;
  uint32_t number;
};

// The "key: value" fields of one paragraph.
void SplitFields(std::string_view paragraph, Fields& fields) {
  fields.clear();
  while (!paragraph.empty()) {
    std::string_view line = NextLine(paragraph);
    size_t colon = line.find(':');
    if (colon != std::string_view::npos && !Trim(line).empty())
      fields.emplace_back(Trim(line.substr(0, colon)),
                          Trim(line.substr(colon + 1)));
  }
}

void AddParagraph(std::string_view paragraph, Fields& fields, CpuInfo& info,
                  std::vector<Processor>& processors) {
  SplitFields(paragraph, fields);
  if (fields.empty()) return;
  if (auto flags = Field(fields, "flags"))
    info.hypervisor =
        info.hypervisor.value_or(false) || HasWord(*flags, "hypervisor");
  uint32_t number;
  auto processor = Field(fields, "processor");
  // ARM kernels end the file with a paragraph about the board, without a
  // processor number; it describes no CPU.
  if (!processor || !ParseU32(*processor, number)) return;
  Processor& p = processors.emplace_back();
  p.paragraph = paragraph;
  p.id = Field(fields, "physical id").value_or("");
  p.core = Field(fields, "core id");
  uint32_t cores;
  if (auto c = Field(fields, "cpu cores"); c && ParseU32(*c, cores))
    p.cpuCores = cores;
  p.number = number;
}

std::optional<double> Mhz(std::optional<std::string_view> text) {
  if (!text) return std::nullopt;
  std::string s(*text);
  char* end = nullptr;
  double mhz = std::strtod(s.c_str(), &end);
  if (end && *end == '\0' && end != s.c_str() && std::isfinite(mhz) &&
      mhz >= 0 && mhz < 1e9)
    return mhz;
  return std::nullopt;
}

std::optional<std::string> Copy(std::optional<std::string_view> text) {
  if (!text) return std::nullopt;
  return std::string(*text);
}

// Where a processor's package goes. Physical ids are numbers on every
// kernel; sorting them as numbers keeps package 10 after package 2. Any
// other id follows them, by its text. Within a package, file order.
struct Key {
  bool text;
  uint32_t number;
  std::string_view id;
  uint32_t index;
  bool operator<(const Key& o) const {
    return std::tie(text, number, id, index) <
           std::tie(o.text, o.number, o.id, o.index);
  }
};

// The package of processors[keys[from..to)], all of one physical id.
CpuPackage MakePackage(const std::vector<Processor>& processors,
                       const Key* from, const Key* to,
                       std::vector<std::string_view>& cores, Fields& fields) {
  CpuPackage pkg;
  pkg.physicalId = std::string(from->id);
  pkg.logical = static_cast<uint32_t>(to - from);
  cores.clear();
  std::optional<uint32_t> cpuCores;
  const Processor* speaker = nullptr;
  for (const Key* k = from; k != to; ++k) {
    const Processor& p = processors[k->index];
    if (p.core) cores.push_back(*p.core);
    if (p.cpuCores) cpuCores = p.cpuCores;
    // The lowest-numbered processor speaks for the package.
    if (!speaker || p.number <= speaker->number) speaker = &p;
  }
  std::sort(cores.begin(), cores.end());
  auto distinct = static_cast<uint32_t>(
      std::unique(cores.begin(), cores.end()) - cores.begin());
  pkg.cores = cpuCores ? *cpuCores : distinct ? distinct : pkg.logical;
  pkg.firstCpu = static_cast<int>(speaker->number);
  SplitFields(speaker->paragraph, fields);
  pkg.modelName = Copy(Field(fields, "model name"));
  pkg.vendor = Copy(Field(fields, "vendor_id"));
  pkg.mhz = Mhz(Field(fields, "cpu MHz"));
  return pkg;
}

}  // namespace

// One pass over the text, then one sort that brings each package's
// processors together in package order: n log n in the number of
// processors, with no per-package structure to look up while reading, as a
// machine may list hundreds of thousands of packages.
CpuInfo ParseCpuInfo(std::string_view text) {
  CpuInfo info;
  std::vector<Processor> processors;
  Fields fields;
  const char* start = text.data();
  while (!text.empty()) {
    const char* at = text.data();
    if (!Trim(NextLine(text)).empty()) continue;
    AddParagraph(std::string_view(start, static_cast<size_t>(at - start)),
                 fields, info, processors);
    start = text.data();
  }
  AddParagraph(
      std::string_view(start, static_cast<size_t>(text.data() - start)), fields,
      info, processors);

  std::vector<Key> keys;
  keys.reserve(processors.size());
  for (uint32_t i = 0; i < processors.size(); ++i) {
    uint32_t number = 0;
    bool numeric = ParseU32(processors[i].id, number);
    keys.push_back({!numeric, number, processors[i].id, i});
  }
  std::sort(keys.begin(), keys.end());
  std::vector<std::string_view> cores;
  for (size_t from = 0, to = 0; from < keys.size(); from = to) {
    while (to < keys.size() && keys[to].id == keys[from].id) ++to;
    info.packages.push_back(
        MakePackage(processors, &keys[from], &keys[0] + to, cores, fields));
  }
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
