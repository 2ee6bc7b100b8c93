// Who and what this installation is: its machine identity (/etc/machine-id),
// when it was installed (the package manager's records), the directory
// domain it has joined (sssd, Kerberos) and the user at its local seat
// (systemd-logind's session files).
#include "posix/live/facts.h"
#include "posix/wbem/names.h"

namespace posix_wmi {

std::optional<std::string> IniValue(std::string_view text,
                                    std::string_view section,
                                    std::string_view key) {
  bool inside = false;
  while (!text.empty()) {
    std::string_view line = Trim(NextLine(text));
    if (line.empty() || line[0] == '#' || line[0] == ';') continue;
    if (line[0] == '[') {
      size_t close = line.find(']');
      inside = close != std::string_view::npos &&
               SameName(Trim(line.substr(1, close - 1)), section);
      continue;
    }
    size_t eq = line.find('=');
    if (!inside || eq == std::string_view::npos) continue;
    if (SameName(Trim(line.substr(0, eq)), key))
      return std::string(Trim(line.substr(eq + 1)));
  }
  return std::nullopt;
}

std::optional<std::string> MachineId(LiveFacts& f) {
  auto id = f.Text("/etc/machine-id");
  if (!id) return std::nullopt;
  std::string_view trimmed = Trim(*id);
  // An image not yet booted holds an empty file or "uninitialized".
  if (trimmed.empty() || trimmed == "uninitialized") return std::nullopt;
  return std::string(trimmed);
}

// `realm join` leaves the domain as sssd's first (usually only) domain; a
// machine set up for Kerberos alone names just its default realm. Realms
// are spelt in capitals by convention, Windows shows the DNS name in lower
// case.
std::optional<std::string> JoinedDomain(LiveFacts& f) {
  std::optional<std::string> name;
  if (const auto& sssd = f.File("/etc/sssd/sssd.conf")) {
    if (auto domains = IniValue(*sssd, "sssd", "domains")) {
      std::string_view list = *domains;
      name = std::string(Trim(list.substr(0, list.find(','))));
    }
  }
  if (!name || name->empty())
    if (const auto& krb5 = f.File("/etc/krb5.conf"))
      name = IniValue(*krb5, "libdefaults", "default_realm");
  if (!name || name->empty()) return std::nullopt;
  return LowerName(*name);
}

// logind writes one file per session; the user of the active session on the
// local seat is the one at the console, a remote or seatless one is not.
std::optional<std::string> SeatUser(LiveFacts& f) {
  const std::string dir = "/run/systemd/sessions/";
  for (const std::string& name : f.List(dir)) {
    if (name.find('.') != std::string::npos) continue;  // "2.ref" pipes
    const auto& text = f.File(dir + name);
    if (!text) continue;
    auto keys = ParseOsRelease(*text);
    auto is = [&](const char* key, const char* value) {
      auto it = keys.find(key);
      return it != keys.end() && it->second == value;
    };
    auto user = keys.find("USER");
    if (is("ACTIVE", "1") && is("SEAT", "seat0") && !is("REMOTE", "1") &&
        user != keys.end() && !user->second.empty())
      return user->second;
  }
  return std::nullopt;
}

// dpkg writes a package's file list when it installs the package and leaves
// it alone until the package goes, so the oldest list dates the
// installation; an RPM system's database files stand in where there is no
// dpkg.
std::optional<std::string> InstallDate(LiveFacts& f) {
  auto oldest = f.OldestModTime("/var/lib/dpkg/info", ".list");
  if (!oldest) oldest = f.OldestModTime("/var/lib/rpm", "");
  if (!oldest) return std::nullopt;
  std::string text = CimDatetimeLocal(static_cast<time_t>(*oldest));
  if (text.empty()) return std::nullopt;
  return text;
}

}  // namespace posix_wmi
