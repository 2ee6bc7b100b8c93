// The hardware behind class devices: which PCI function or USB device a
// network interface or DRM card sits on, its Windows-style PNP identifier,
// and the names the PCI and USB ID databases give it.
//
// The databases are read where the system keeps them, below the root like
// every other file; a system without them gets NULL names, never a look-up
// over the network.
//
// Windows ends a PNP identifier with an instance part its bus driver makes
// up; here it comes from sysfs alone, so the same tree always gives the same
// identifier:
//   PCI:  3&<hash>&0&<device and function as two hex digits>
//   USB:  the device's serial number, or 5&<hash>&0&<port>
// where <hash> is the FNV-1a hash of the sysfs path of the parent bridge or
// hub, as for the CD-ROM drives of block.cpp.
#include <cstdio>

#include "posix/live/facts.h"

namespace posix_wmi {
namespace {

constexpr const char* kPciIds[] = {"/usr/share/misc/pci.ids",
                                   "/usr/share/hwdata/pci.ids"};
constexpr const char* kUsbIds[] = {"/usr/share/misc/usb.ids",
                                   "/usr/share/hwdata/usb.ids"};

std::string Parent(std::string_view path) {
  size_t slash = path.rfind('/');
  return std::string(
      path.substr(0, slash == std::string_view::npos ? 0 : slash));
}

std::string Base(std::string_view path) {
  size_t slash = path.rfind('/');
  return std::string(slash == std::string_view::npos ? path
                                                     : path.substr(slash + 1));
}

// "0000:00:1f.6": domain, bus, device and function.
bool IsPciAddress(std::string_view name, unsigned* devfn = nullptr) {
  unsigned domain, bus, dev, fn;
  int used = 0;
  std::string s(name);
  if (sscanf(s.c_str(), "%4x:%2x:%2x.%1x%n", &domain, &bus, &dev, &fn, &used) !=
          4 ||
      static_cast<size_t>(used) != s.size() || s.size() != 12)
    return false;
  if (devfn) *devfn = (dev << 3) | fn;
  return true;
}

// Sysfs writes IDs as "0x8086"; the databases as "8086".
std::optional<std::string> HexId(LiveFacts& f, const std::string& path) {
  auto text = f.Text(path);
  if (!text) return std::nullopt;
  std::string_view v = Trim(*text);
  if (v.starts_with("0x")) v.remove_prefix(2);
  if (v.empty() || v.size() > 8) return std::nullopt;
  std::string out;
  for (char c : v) {
    if (!isxdigit(static_cast<unsigned char>(c))) return std::nullopt;
    out.push_back(static_cast<char>(tolower(static_cast<unsigned char>(c))));
  }
  return out;
}

std::string Upper(std::string s) {
  for (char& c : s)
    c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
  return s;
}

std::string Hex(uint32_t v, int digits) {
  char buf[16];
  snprintf(buf, sizeof buf, "%0*X", digits, v);
  return buf;
}

}  // namespace

std::optional<std::string> IdsName(std::string_view ids,
                                   std::string_view vendor,
                                   std::string_view device) {
  bool inVendor = false;
  while (!ids.empty()) {
    std::string_view line = NextLine(ids);
    if (line.empty() || line[0] == '#') continue;
    bool top = line[0] != '\t';
    if (top) {
      // The device lists end where the class lists ("C 00 ...") begin.
      if (inVendor || line.starts_with("C ")) return std::nullopt;
      if (line.size() > 6 && line.substr(0, 4) == vendor &&
          line.substr(4, 2) == "  ") {
        if (device.empty()) return std::string(Trim(line.substr(6)));
        inVendor = true;
      }
    } else if (inVendor && line.size() > 7 && line[1] != '\t' &&
               line.substr(1, 4) == device && line.substr(5, 2) == "  ") {
      return std::string(Trim(line.substr(7)));
    }
  }
  return std::nullopt;
}

std::optional<std::string> LiveFacts::IdName(const char* db,
                                             const std::string& vendor,
                                             const std::string& device) {
  std::string key = std::string(db) + ":" + vendor + ":" + device;
  auto it = idNames_.find(key);
  if (it != idNames_.end()) return it->second;
  std::optional<std::string> name;
  for (const char* path : std::string_view(db) == "pci" ? kPciIds : kUsbIds) {
    if (const auto& text = File(path)) {
      name = IdsName(*text, vendor, device);
      break;
    }
  }
  return idNames_.emplace(key, std::move(name)).first->second;
}

std::string EntryPath(LiveFacts& f, const std::string& folder,
                      const std::string& name) {
  std::string entry = folder + "/" + name;
  const auto& link = f.Link(entry);
  return link ? ResolveLink(folder, *link) : entry;
}

Hardware HardwareOf(LiveFacts& f, const std::string& classDevice) {
  const auto& link = f.Link(classDevice + "/device");
  if (!link) return {};
  return HardwareAt(f, ResolveLink(classDevice, *link));
}

Hardware HardwareAt(LiveFacts& f, const std::string& device) {
  Hardware hw;
  hw.bound = device;
  std::string path = hw.bound;
  // A USB function is bound to an interface ("2-1:1.0") of its device.
  if (Base(path).find(':') != std::string::npos && !IsPciAddress(Base(path)))
    path = Parent(path);
  if (IsPciAddress(Base(path))) {
    auto vendor = HexId(f, path + "/vendor");
    auto product = HexId(f, path + "/device");
    if (vendor && product)
      hw = {Hardware::Bus::kPci, path, hw.bound, *vendor, *product};
  } else if (path.find("/usb") != std::string::npos) {
    auto vendor = HexId(f, path + "/idVendor");
    auto product = HexId(f, path + "/idProduct");
    if (vendor && product)
      hw = {Hardware::Bus::kUsb, path, hw.bound, *vendor, *product};
  }
  return hw;
}

std::optional<std::string> PnpDeviceId(LiveFacts& f, const Hardware& hw) {
  std::string ven = Upper(hw.vendorId), dev = Upper(hw.deviceId);
  std::string hash = Hex(Fnv1a32(Parent(hw.path)), 8);
  if (hw.bus == Hardware::Bus::kPci) {
    std::string subsystem =
        Upper(HexId(f, hw.path + "/subsystem_device").value_or("0000") +
              HexId(f, hw.path + "/subsystem_vendor").value_or("0000"));
    std::string rev = Upper(HexId(f, hw.path + "/revision").value_or("00"));
    if (rev.size() < 2) rev.insert(0, 2 - rev.size(), '0');
    unsigned devfn = 0;
    IsPciAddress(Base(hw.path), &devfn);
    return "PCI\\VEN_" + ven + "&DEV_" + dev + "&SUBSYS_" + subsystem +
           "&REV_" + rev + "\\3&" + hash + "&0&" + Hex(devfn, 2);
  }
  if (hw.bus == Hardware::Bus::kUsb) {
    auto serial = f.Text(hw.path + "/serial");
    std::string name = Base(hw.path);
    size_t cut = name.find_last_of("-.");
    std::string port = cut == std::string::npos ? "0" : name.substr(cut + 1);
    return "USB\\VID_" + ven + "&PID_" + dev + "\\" +
           (serial && !serial->empty() ? Upper(*serial)
                                       : "5&" + hash + "&0&" + port);
  }
  return std::nullopt;
}

std::optional<std::string> HardwareVendor(LiveFacts& f, const Hardware& hw) {
  if (hw.bus == Hardware::Bus::kNone) return std::nullopt;
  bool usb = hw.bus == Hardware::Bus::kUsb;
  if (auto name = f.IdName(usb ? "usb" : "pci", hw.vendorId)) return name;
  return usb ? f.Text(hw.path + "/manufacturer") : std::nullopt;
}

std::optional<std::string> HardwareName(LiveFacts& f, const Hardware& hw) {
  if (hw.bus == Hardware::Bus::kNone) return std::nullopt;
  bool usb = hw.bus == Hardware::Bus::kUsb;
  if (auto name = f.IdName(usb ? "usb" : "pci", hw.vendorId, hw.deviceId))
    return name;
  return usb ? f.Text(hw.path + "/product") : std::nullopt;
}

std::optional<std::string> DriverOf(LiveFacts& f, const Hardware& hw) {
  if (hw.bound.empty()) return std::nullopt;
  const auto& link = f.Link(hw.bound + "/driver");
  if (!link) return std::nullopt;
  return Base(*link);
}

}  // namespace posix_wmi
