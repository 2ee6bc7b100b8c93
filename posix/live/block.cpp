// Facts about disks and optical drives: /sys/block and the device paths its
// links lead to, which tell how each device is attached.
//
// Disks are the entries of /sys/block that sit on hardware (that have a
// `device` link): that leaves out loop, ram, zram, device-mapper and md
// devices, and partitions are never listed there. `sr` devices are the
// optical drives and are not disks.
//
// Windows builds a CD-ROM's device identifier from the drive's inquiry data
// and an instance part that its bus driver makes up. The instance part here
// comes from sysfs alone, so the same tree always gives the same identifier:
//   IDE form:      5&<hash>&0&<host>.<channel>.<target>
//   SCSI form:     5&<hash>&0&<channel><target><lun>, two hex digits each
//   USBSTOR form:  <USB serial number>&<lun>, or 7&<hash>&0&<lun> for a
//                  device without a serial number
// where <hash> is the FNV-1a hash, as eight hex digits, of the sysfs path of
// the parent the drive hangs off: the controller (the device path up to the
// SCSI host) or, for USB, the USB device. Like Windows's own hash it tells
// drives on different parents apart and stays put from boot to boot.
#include <cctype>
#include <cstdio>

#include "posix/live/facts.h"

namespace posix_wmi {
namespace {

std::string Join(const std::vector<std::string>& parts, size_t count) {
  std::string out;
  for (size_t i = 0; i < count && i < parts.size(); ++i) out += "/" + parts[i];
  return out;
}

bool StartsWith(std::string_view s, std::string_view prefix) {
  return s.substr(0, prefix.size()) == prefix;
}

bool IsScsiHost(std::string_view part) {
  if (!StartsWith(part, "host") || part.size() == 4) return false;
  for (char c : part.substr(4))
    if (c < '0' || c > '9') return false;
  return true;
}

// Index of the "hostN" element of a device path; parts.size() when none.
size_t ScsiHostIndex(const std::vector<std::string>& parts) {
  for (size_t i = 0; i < parts.size(); ++i)
    if (IsScsiHost(parts[i])) return i;
  return parts.size();
}

std::string Hex8(uint32_t v) {
  char buf[16];
  snprintf(buf, sizeof buf, "%08X", v);
  return buf;
}

std::string Hex2(uint32_t v) {
  char buf[16];
  snprintf(buf, sizeof buf, "%02X", v & 0xFF);
  return buf;
}

// Identifier text as Windows writes it: upper case, blanks and control
// characters as '_'.
std::string IdText(std::string_view s) {
  std::string out;
  for (char c : s) {
    unsigned char u = static_cast<unsigned char>(c);
    out.push_back(u <= ' ' || u == 0x7F ? '_'
                                        : static_cast<char>(std::toupper(u)));
  }
  return out;
}

std::string PadTo(std::string s, size_t width) {
  s.resize(width, '_');
  return s;
}

std::string DevicePath(const BlockDevice& d) {
  return "/sys/block/" + d.name + "/device/";
}

}  // namespace

// Sysfs links are relative; resolving them without the file system keeps
// every path below the root.
std::string ResolveLink(std::string_view dir, std::string_view target) {
  std::vector<std::string> out;
  if (!target.empty() && target[0] != '/') out = SplitPath(dir);
  for (std::string& part : SplitPath(target)) {
    if (part == ".") continue;
    if (part == "..") {
      if (!out.empty()) out.pop_back();
      continue;
    }
    out.push_back(std::move(part));
  }
  return Join(out, out.size());
}

uint32_t Fnv1a32(std::string_view text) {
  uint32_t h = 2166136261u;
  for (char c : text) {
    h ^= static_cast<unsigned char>(c);
    h *= 16777619u;
  }
  return h;
}

std::optional<ScsiAddress> ScsiAddressOf(std::string_view devPath) {
  std::vector<std::string> parts = SplitPath(devPath);
  for (size_t i = parts.size(); i-- > 0;) {
    ScsiAddress a;
    int used = 0;
    if (sscanf(parts[i].c_str(), "%u:%u:%u:%u%n", &a.host, &a.channel,
               &a.target, &a.lun, &used) == 4 &&
        static_cast<size_t>(used) == parts[i].size() &&
        std::isdigit(static_cast<unsigned char>(parts[i][0])))
      return a;
  }
  return std::nullopt;
}

std::string FormCdromDeviceId(const CdromIdentity& id) {
  switch (id.attachment) {
    case Attachment::kIde: {
      std::string name = id.vendor.empty()  ? id.model
                         : id.model.empty() ? id.vendor
                                            : id.vendor + " " + id.model;
      return "IDE\\CDROM" + PadTo(IdText(name), 40) + PadTo(IdText(id.rev), 8) +
             "\\" + IdText(id.instance);
    }
    case Attachment::kUsb:
      return "USBSTOR\\CDROM&VEN_" + IdText(id.vendor) + "&PROD_" +
             IdText(id.model) + "&REV_" + IdText(id.rev) + "\\" +
             IdText(id.instance);
    default:
      return "SCSI\\CDROM&VEN_" + IdText(id.vendor) + "&PROD_" +
             IdText(id.model) + "&REV_" + IdText(id.rev) + "\\" +
             IdText(id.instance);
  }
}

void LiveFacts::LoadBlockDevices() {
  disks_.emplace();
  cdroms_.emplace();
  for (const std::string& name : List("/sys/block")) {
    if (StartsWith(name, "loop") || StartsWith(name, "ram") ||
        StartsWith(name, "zram"))
      continue;
    std::string entry = "/sys/block/" + name;
    if (!Link(entry + "/device")) continue;
    const auto& link = Link(entry);
    BlockDevice d{name, link ? ResolveLink("/sys/block", *link) : entry};
    (StartsWith(name, "sr") ? *cdroms_ : *disks_).push_back(std::move(d));
  }
}

const std::vector<BlockDevice>& LiveFacts::Disks() {
  if (!disks_) LoadBlockDevices();
  return *disks_;
}

const std::vector<BlockDevice>& LiveFacts::Cdroms() {
  if (!cdroms_) LoadBlockDevices();
  return *cdroms_;
}

Attachment AttachmentOf(LiveFacts& f, const BlockDevice& d) {
  std::vector<std::string> parts = SplitPath(d.devPath);
  for (const std::string& part : parts)
    if (StartsWith(part, "usb")) return Attachment::kUsb;
  size_t host = ScsiHostIndex(parts);
  if (host < parts.size()) {
    auto proc = f.Text(Join(parts, host + 1) + "/scsi_host/" + parts[host] +
                       "/proc_name");
    if (proc && proc->find("ahci") != std::string::npos)
      return Attachment::kAhci;
    if (proc && proc->find("ata") != std::string::npos) return Attachment::kIde;
    return Attachment::kScsi;
  }
  for (const std::string& part : parts) {
    if (part == "nvme") return Attachment::kNvme;
    if (StartsWith(part, "virtio")) return Attachment::kVirtio;
  }
  return Attachment::kUnknown;
}

std::optional<std::string> DiskInterfaceType(LiveFacts& f,
                                             const BlockDevice& d) {
  switch (AttachmentOf(f, d)) {
    case Attachment::kIde:
    case Attachment::kAhci:
      return "IDE";
    case Attachment::kScsi:
      return "SCSI";
    case Attachment::kUsb:
      return "USB";
    case Attachment::kNvme:
      return "NVMe";
    case Attachment::kVirtio:
      return "Virtio";
    case Attachment::kUnknown:
      break;
  }
  return std::nullopt;
}

std::optional<std::string> DeviceAttr(LiveFacts& f, const BlockDevice& d,
                                      const char* attr) {
  return f.Text(DevicePath(d) + attr);
}

std::optional<std::string> DiskSerialNumber(LiveFacts& f,
                                            const BlockDevice& d) {
  // Virtio publishes the serial on the disk, NVMe and MMC on the device.
  if (auto s = f.Text("/sys/block/" + d.name + "/serial")) return s;
  if (auto s = f.Text(DevicePath(d) + "serial")) return s;
  // SCSI and ATA disks answer inquiry page 0x80: a four-byte header, then
  // the serial number, which ATA disks pad on the left as well.
  const auto& page = f.File(DevicePath(d) + "vpd_pg80");
  if (!page || page->size() < 4) return std::nullopt;
  size_t len = static_cast<unsigned char>((*page)[3]);
  std::string serial = page->substr(4, len);
  size_t b = serial.find_first_not_of(' ');
  size_t e = serial.find_last_not_of(std::string_view(" \0", 2));
  if (b == std::string::npos || e == std::string::npos) return std::string();
  return serial.substr(b, e - b + 1);
}

std::optional<uint64_t> BlockSizeBytes(LiveFacts& f, const BlockDevice& d) {
  auto text = f.Text("/sys/block/" + d.name + "/size");
  uint64_t sectors;
  if (!text || !ParseU64(*text, sectors) || sectors > UINT64_MAX / 512)
    return std::nullopt;
  return sectors * 512;  // the kernel counts 512-byte sectors whatever the
                         // device's own block size
}

std::optional<std::string> CdromName(LiveFacts& f, const BlockDevice& d) {
  auto vendor = DeviceAttr(f, d, "vendor");
  auto model = DeviceAttr(f, d, "model");
  if (!vendor || vendor->empty()) return model;
  if (!model || model->empty()) return vendor;
  return *vendor + " " + *model;
}

std::optional<std::string> CdromDeviceId(LiveFacts& f, const BlockDevice& d) {
  auto vendor = DeviceAttr(f, d, "vendor");
  auto model = DeviceAttr(f, d, "model");
  if (!vendor && !model) return std::nullopt;
  CdromIdentity id;
  id.attachment = AttachmentOf(f, d);
  id.vendor = vendor.value_or("");
  id.model = model.value_or("");
  id.rev = DeviceAttr(f, d, "rev").value_or("");

  std::vector<std::string> parts = SplitPath(d.devPath);
  ScsiAddress a = ScsiAddressOf(d.devPath).value_or(ScsiAddress{});
  std::string lun = std::to_string(a.lun);
  std::string parent = Join(parts, ScsiHostIndex(parts));
  switch (id.attachment) {
    case Attachment::kIde:
      id.instance = "5&" + Hex8(Fnv1a32(parent)) + "&0&" +
                    std::to_string(a.host) + "." + std::to_string(a.channel) +
                    "." + std::to_string(a.target);
      break;
    case Attachment::kUsb: {
      // The USB device is the element before its first interface
      // ("2-1:1.0"); the elements from "usbN" on are hubs and devices.
      size_t usb = 0;
      while (usb < parts.size() && !StartsWith(parts[usb], "usb")) ++usb;
      size_t iface = usb;
      while (iface < parts.size() &&
             parts[iface].find(':') == std::string::npos)
        ++iface;
      std::string device = Join(parts, iface);
      auto serial = f.Text(device + "/serial");
      id.instance = serial && !serial->empty()
                        ? *serial + "&" + lun
                        : "7&" + Hex8(Fnv1a32(device)) + "&0&" + lun;
      break;
    }
    default:
      id.instance = "5&" + Hex8(Fnv1a32(parent)) + "&0&" + Hex2(a.channel) +
                    Hex2(a.target) + Hex2(a.lun);
      break;
  }
  return FormCdromDeviceId(id);
}

}  // namespace posix_wmi
