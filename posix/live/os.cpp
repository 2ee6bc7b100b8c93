// Facts about the running system: kernel names (/proc/sys/kernel), memory
// (/proc/meminfo), the distribution (/etc/os-release) and the boot time
// (/proc/stat).
//
// The host name is read from /proc/sys/kernel/hostname rather than asked of
// uname(), so that it sits below the root like every other fact and a
// fixture tree decides it. The machine name comes from /proc/sys/kernel/arch
// for the same reason; only when reading the real root of a kernel too old
// to publish that file is uname() asked instead.
#include <sys/utsname.h>

#include <cstdio>
#include <cstdlib>

#include "posix/live/facts.h"

namespace posix_wmi {
namespace {

// Undoes the shell quoting os-release allows: one double- or single-quoted
// string, or a bare word with backslash escapes.
std::string Unquote(std::string_view v) {
  std::string out;
  if (!v.empty() && (v[0] == '"' || v[0] == '\'')) {
    char q = v[0];
    for (size_t i = 1; i < v.size() && v[i] != q; ++i) {
      if (q == '"' && v[i] == '\\' && i + 1 < v.size() &&
          std::string_view("\\\"$`").find(v[i + 1]) != std::string_view::npos)
        ++i;
      out.push_back(v[i]);
    }
    return out;
  }
  for (size_t i = 0; i < v.size(); ++i) {
    if (v[i] == '\\' && i + 1 < v.size()) ++i;
    out.push_back(v[i]);
  }
  return out;
}

}  // namespace

std::map<std::string, uint64_t, std::less<>> ParseMemInfo(
    std::string_view text) {
  std::map<std::string, uint64_t, std::less<>> out;
  while (!text.empty()) {
    std::string_view line = NextLine(text);
    size_t colon = line.find(':');
    if (colon == std::string_view::npos) continue;
    std::string_view value = Trim(line.substr(colon + 1));
    if (value.size() >= 3 && value.substr(value.size() - 3) == " kB")
      value = Trim(value.substr(0, value.size() - 3));
    uint64_t v;
    if (ParseU64(value, v)) out.emplace(std::string(line.substr(0, colon)), v);
  }
  return out;
}

std::map<std::string, std::string, std::less<>> ParseOsRelease(
    std::string_view text) {
  std::map<std::string, std::string, std::less<>> out;
  while (!text.empty()) {
    std::string_view line = Trim(NextLine(text));
    if (line.empty() || line[0] == '#') continue;
    size_t eq = line.find('=');
    if (eq == std::string_view::npos || eq == 0) continue;
    out[std::string(line.substr(0, eq))] = Unquote(line.substr(eq + 1));
  }
  return out;
}

std::optional<int64_t> ParseBootTime(std::string_view text) {
  while (!text.empty()) {
    std::string_view line = NextLine(text);
    if (line.substr(0, 6) != "btime ") continue;
    uint64_t v;
    if (ParseU64(Trim(line.substr(6)), v) &&
        v <= static_cast<uint64_t>(INT64_MAX))
      return static_cast<int64_t>(v);
    return std::nullopt;
  }
  return std::nullopt;
}

std::string CimDatetimeLocal(time_t t) {
  struct tm tm;
  if (!localtime_r(&t, &tm)) return {};
  long offset = tm.tm_gmtoff / 60;
  char buf[64];
  snprintf(buf, sizeof buf, "%04d%02d%02d%02d%02d%02d.000000%c%03ld",
           tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min,
           tm.tm_sec, offset < 0 ? '-' : '+', std::labs(offset));
  return buf;
}

std::optional<std::string> HostName(LiveFacts& f) {
  return f.Text("/proc/sys/kernel/hostname");
}

std::optional<std::string> KernelRelease(LiveFacts& f) {
  return f.Text("/proc/sys/kernel/osrelease");
}

std::optional<std::string> LiveFacts::Machine() {
  if (!machine_) {
    std::optional<std::string> m = Text("/proc/sys/kernel/arch");
    struct utsname u;
    if (!m && root_.empty() && uname(&u) == 0) m = u.machine;
    machine_ = m;
  }
  return *machine_;
}

std::optional<uint64_t> LiveFacts::MemInfoKib(std::string_view key) {
  if (!meminfo_) {
    const auto& text = File("/proc/meminfo");
    meminfo_ = text ? ParseMemInfo(*text)
                    : std::map<std::string, uint64_t, std::less<>>();
  }
  auto it = meminfo_->find(key);
  if (it == meminfo_->end()) return std::nullopt;
  return it->second;
}

std::optional<std::string> LiveFacts::OsRelease(std::string_view key) {
  if (!osRelease_) {
    // The file's documented fallback when /etc has none.
    const std::optional<std::string>* text = &File("/etc/os-release");
    if (!*text) text = &File("/usr/lib/os-release");
    osRelease_ = *text ? ParseOsRelease(**text)
                       : std::map<std::string, std::string, std::less<>>();
  }
  auto it = osRelease_->find(key);
  if (it == osRelease_->end()) return std::nullopt;
  return it->second;
}

std::optional<std::string> LastBootUpTime(LiveFacts& f) {
  const auto& stat = f.File("/proc/stat");
  if (!stat) return std::nullopt;
  std::optional<int64_t> btime = ParseBootTime(*stat);
  if (!btime) return std::nullopt;
  std::string text = CimDatetimeLocal(static_cast<time_t>(*btime));
  if (text.empty()) return std::nullopt;
  return text;
}

}  // namespace posix_wmi
