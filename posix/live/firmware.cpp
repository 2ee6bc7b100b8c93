// Facts the firmware hands to the kernel: the SMBIOS strings the kernel
// publishes in /sys/class/dmi/id, and the device tree's model on boards that
// have no SMBIOS.
#include <cctype>

#include "posix/live/facts.h"

namespace posix_wmi {

std::optional<std::string> Dmi(LiveFacts& f, const char* file) {
  return f.Text(std::string("/sys/class/dmi/id/") + file);
}

std::optional<std::string> DeviceTreeModel(LiveFacts& f) {
  // /proc/device-tree is a link to this directory; reading the target keeps
  // fixtures free of that link. Text() drops the property's closing NUL.
  return f.Text("/sys/firmware/devicetree/base/model");
}

std::optional<std::string> CimDateFromFirmware(std::string_view d) {
  if (d.size() != 10 || d[2] != '/' || d[5] != '/') return std::nullopt;
  for (size_t i : {0, 1, 3, 4, 6, 7, 8, 9})
    if (!std::isdigit(static_cast<unsigned char>(d[i]))) return std::nullopt;
  int month = (d[0] - '0') * 10 + (d[1] - '0');
  int day = (d[3] - '0') * 10 + (d[4] - '0');
  if (month < 1 || month > 12 || day < 1 || day > 31) return std::nullopt;
  std::string out;
  out.append(d.substr(6, 4)).append(d.substr(0, 2)).append(d.substr(3, 2));
  return out + "000000.000000+000";
}

}  // namespace posix_wmi
