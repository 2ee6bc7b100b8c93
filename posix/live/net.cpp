// Facts about network adapters and their IP configuration: /sys/class/net,
// the routing tables in /proc/net, the resolver's configuration and the
// DHCP clients' lease files.
//
// Where Linux keeps a fact for the whole machine and Windows keeps it per
// adapter, the adapter that carries the traffic gets it: the DNS servers go
// to the adapters with a default gateway. DHCP is known to be on only where
// a client left a lease for the interface (systemd-networkd, NetworkManager,
// dhclient, dhcpcd); with none, nothing says whether the address is static,
// so the answer is NULL. Addresses come from getifaddrs and only on the real
// root: no file below a tree lists an interface's IPv4 addresses.
#include <arpa/inet.h>
#include <ifaddrs.h>
#include <netinet/in.h>

#include <cstring>

#include "posix/live/facts.h"

namespace posix_wmi {
namespace {

constexpr uint32_t kIffUp = 0x1;  // IFF_UP of the interface's flags
constexpr uint32_t kRtfUp = 0x1, kRtfGateway = 0x2;

std::string NetPath(LiveFacts& f, size_t i, const char* attr) {
  return f.Nets()[i].path + "/" + attr;
}

std::optional<uint32_t> HexU32(std::string_view s) {
  auto v = s.size() <= 8 ? ParseHex(s) : std::nullopt;
  if (!v) return std::nullopt;
  return static_cast<uint32_t>(*v);
}

std::vector<std::string_view> Fields(std::string_view line) {
  std::vector<std::string_view> out;
  while (true) {
    size_t b = line.find_first_not_of(" \t");
    if (b == std::string_view::npos) break;
    line.remove_prefix(b);
    size_t e = line.find_first_of(" \t");
    out.push_back(line.substr(0, e));
    if (e == std::string_view::npos) break;
    line.remove_prefix(e);
  }
  return out;
}

std::string Ntop(int family, const void* addr) {
  char buf[INET6_ADDRSTRLEN];
  return inet_ntop(family, addr, buf, sizeof buf) ? buf : "";
}

std::optional<uint32_t> Flags(LiveFacts& f, size_t i) {
  auto text = f.Text(NetPath(f, i, "flags"));
  return text ? HexU32(*text) : std::nullopt;
}

}  // namespace

const std::vector<NetInterface>& LiveFacts::Nets() {
  if (nets_) return *nets_;
  nets_.emplace();
  for (const std::string& name : List("/sys/class/net")) {
    std::string path = EntryPath(*this, "/sys/class/net", name);
    if (name == "lo" || Text(path + "/type") == "772") continue;  // loopback
    nets_->push_back({name, path});
  }
  return *nets_;
}

const std::vector<IfAddress>& LiveFacts::Addresses() {
  if (addresses_) return *addresses_;
  addresses_.emplace();
  ifaddrs* all = nullptr;
  if (!root_.empty() || getifaddrs(&all) != 0) return *addresses_;
  for (ifaddrs* a = all; a; a = a->ifa_next) {
    if (!a->ifa_addr || !a->ifa_netmask) continue;
    IfAddress out;
    out.iface = a->ifa_name;
    if (a->ifa_addr->sa_family == AF_INET) {
      out.address =
          Ntop(AF_INET, &reinterpret_cast<sockaddr_in*>(a->ifa_addr)->sin_addr);
      out.subnet = Ntop(
          AF_INET, &reinterpret_cast<sockaddr_in*>(a->ifa_netmask)->sin_addr);
    } else if (a->ifa_addr->sa_family == AF_INET6) {
      out.v6 = true;
      out.address = Ntop(
          AF_INET6, &reinterpret_cast<sockaddr_in6*>(a->ifa_addr)->sin6_addr);
      const auto& mask =
          reinterpret_cast<sockaddr_in6*>(a->ifa_netmask)->sin6_addr;
      int bits = 0;
      for (uint8_t byte : mask.s6_addr) bits += __builtin_popcount(byte);
      out.subnet = std::to_string(bits);
    } else {
      continue;
    }
    addresses_->push_back(std::move(out));
  }
  freeifaddrs(all);
  return *addresses_;
}

std::vector<std::string> ParseNameservers(std::string_view text) {
  std::vector<std::string> out;
  while (!text.empty()) {
    auto fields = Fields(NextLine(text));
    if (fields.size() >= 2 && fields[0] == "nameserver")
      out.emplace_back(fields[1]);
  }
  return out;
}

std::vector<std::string> ParseGateways(std::string_view route,
                                       std::string_view ipv6Route,
                                       std::string_view iface) {
  std::vector<std::string> out;
  NextLine(route);  // the header
  while (!route.empty()) {
    auto c = Fields(NextLine(route));
    if (c.size() < 8 || c[0] != iface) continue;
    auto dest = HexU32(c[1]), gw = HexU32(c[2]), flags = HexU32(c[3]),
         mask = HexU32(c[7]);
    if (!dest || !gw || !flags || !mask || *dest || *mask ||
        (*flags & (kRtfUp | kRtfGateway)) != (kRtfUp | kRtfGateway))
      continue;
    // The kernel prints the address as this host's integer of it: its
    // bytes in memory are the address.
    in_addr a;
    memcpy(&a, &*gw, sizeof a);
    out.push_back(Ntop(AF_INET, &a));
  }
  while (!ipv6Route.empty()) {
    auto c = Fields(NextLine(ipv6Route));
    if (c.size() < 10 || c[9] != iface || c[0].size() != 32 ||
        c[4].size() != 32 || c[0].find_first_not_of('0') != std::string::npos ||
        c[1] != "00")
      continue;
    auto flags = HexU32(c[8]);
    if (!flags || (*flags & (kRtfUp | kRtfGateway)) != (kRtfUp | kRtfGateway))
      continue;
    in6_addr a;
    bool ok = true;
    for (size_t b = 0; b < 16 && ok; ++b) {
      auto byte = HexU32(c[4].substr(b * 2, 2));
      ok = byte.has_value();
      a.s6_addr[b] = static_cast<uint8_t>(byte.value_or(0));
    }
    if (ok) out.push_back(Ntop(AF_INET6, &a));
  }
  return out;
}

Hardware NetHardware(LiveFacts& f, size_t i) {
  return HardwareOf(f, f.Nets()[i].path);
}

// The kernel's ARPHRD numbers of the link types Windows has a name for.
std::optional<std::string> NetAdapterType(LiveFacts& f, size_t i) {
  auto text = f.Text(NetPath(f, i, "type"));
  uint32_t type;
  if (!text || !ParseU32(*text, type)) return std::nullopt;
  switch (type) {
    case 1:
      return "Ethernet 802.3";  // Wi-Fi too, as on Windows
    case 6:
      return "Token Ring 802.5";
    case 7:
      return "ARCNET";
    case 19:
      return "ATM";
    case 24:
      return "1394";
    case 512:
      return "Wide Area Network (WAN)";
    case 774:
      return "Fiber Distributed Data Interface (FDDI)";
    default:
      return std::nullopt;
  }
}

std::optional<std::string> NetMac(LiveFacts& f, size_t i) {
  auto text = f.Text(NetPath(f, i, "address"));
  // Six bytes only; tunnels have none, or all zeros.
  if (!text || text->size() != 17 || *text == "00:00:00:00:00:00")
    return std::nullopt;
  for (char& c : *text)
    c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
  return text;
}

std::optional<bool> NetEnabled(LiveFacts& f, size_t i) {
  auto flags = Flags(f, i);
  if (!flags) return std::nullopt;
  return (*flags & kIffUp) != 0;
}

// Up and not waiting for a link: virtual links that know no carrier say
// "unknown" and carry traffic all the same.
std::optional<bool> NetIpEnabled(LiveFacts& f, size_t i) {
  auto enabled = NetEnabled(f, i);
  if (!enabled || !*enabled) return enabled;
  auto state = f.Text(NetPath(f, i, "operstate"));
  if (!state) return std::nullopt;
  return *state == "up" || *state == "unknown";
}

std::optional<uint64_t> NetSpeed(LiveFacts& f, size_t i) {
  // Mbit/s; "-1", or a read error, while there is no link.
  auto text = f.Text(NetPath(f, i, "speed"));
  uint64_t mbits;
  if (!text || !ParseU64(*text, mbits) || mbits > UINT64_MAX / 1000000)
    return std::nullopt;
  return mbits * 1000000;
}

std::optional<bool> NetDhcpEnabled(LiveFacts& f, size_t i) {
  const std::string& name = f.Nets()[i].name;
  if (auto index = f.Text(NetPath(f, i, "ifindex")))
    if (f.File("/run/systemd/netif/leases/" + *index)) return true;
  for (const std::string& path :
       {"/var/lib/dhcp/dhclient." + name + ".leases",
        "/var/lib/dhclient/dhclient-" + name + ".leases",
        "/var/lib/dhcpcd/" + name + ".lease"})
    if (f.File(path)) return true;
  // NetworkManager: internal-<connection>-<interface>.lease
  for (const std::string& file : f.List("/var/lib/NetworkManager"))
    if (file.ends_with("-" + name + ".lease")) return true;
  return std::nullopt;
}

std::optional<std::vector<std::string>> NetAddresses(LiveFacts& f, size_t i,
                                                     bool subnets) {
  std::vector<std::string> out;
  // Windows lists the IPv4 addresses first.
  for (bool v6 : {false, true})
    for (const IfAddress& a : f.Addresses())
      if (a.iface == f.Nets()[i].name && a.v6 == v6)
        out.push_back(subnets ? a.subnet : a.address);
  if (out.empty()) return std::nullopt;
  return out;
}

std::vector<std::string> NetGateways(LiveFacts& f, size_t i) {
  const auto& route = f.File("/proc/net/route");
  const auto& route6 = f.File("/proc/net/ipv6_route");
  return ParseGateways(route ? *route : "", route6 ? *route6 : "",
                       f.Nets()[i].name);
}

std::vector<std::string> NetDnsServers(LiveFacts& f, size_t i) {
  if (NetGateways(f, i).empty()) return {};
  // Behind systemd-resolved, /etc/resolv.conf names only its local stub;
  // the servers it asks are in its own copy.
  for (const char* path :
       {"/run/systemd/resolve/resolv.conf", "/etc/resolv.conf"})
    if (const auto& text = f.File(path)) return ParseNameservers(*text);
  return {};
}

}  // namespace posix_wmi
