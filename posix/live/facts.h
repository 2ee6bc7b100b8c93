// The live provider's inner contracts: the per-query view of this machine's
// files (LiveFacts) and, per source of facts, the parsers and look-ups that
// the class table in classes.cpp draws on. Never compiled on Windows.
#pragma once

#include <cstdint>
#include <ctime>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "posix/wbem/provider.h"

namespace posix_wmi {

// ---- text of procfs and sysfs files ----

// `s` without blanks and tabs in front and blanks, tabs, CRs and LFs behind.
std::string_view Trim(std::string_view s);

// Cuts the first line off `text` and returns it without its LF.
std::string_view NextLine(std::string_view& text);

// A decimal of digits alone, at most 9 (ParseU32) or 19 (ParseU64) of them,
// so that it cannot wrap; false, leaving `out` alone, for anything else.
bool ParseU32(std::string_view s, uint32_t& out);
bool ParseU64(std::string_view s, uint64_t& out);

// Hex digits, with or without "0x", at most 16 of them; nullopt for
// anything else.
std::optional<uint64_t> ParseHex(std::string_view s);

// The non-empty elements of a slash-separated path.
std::vector<std::string> SplitPath(std::string_view path);

// ---- /proc/cpuinfo ----

struct CpuPackage {
  std::string physicalId;  // empty when the kernel names no packages
  std::optional<std::string> modelName;
  std::optional<std::string> vendor;
  uint32_t logical = 0;       // processors listed for this package
  uint32_t cores = 0;         // distinct cores; `logical` when unknown
  int firstCpu = -1;          // lowest processor number of the package
  std::optional<double> mhz;  // "cpu MHz" of that processor
};

struct CpuInfo {
  std::vector<CpuPackage> packages;  // by physical id
  // Set when the text carries x86 "flags" lines: whether any names
  // "hypervisor". Other architectures publish no such flag.
  std::optional<bool> hypervisor;
};

CpuInfo ParseCpuInfo(std::string_view text);

// Counts the CPUs of a kernel CPU list such as "0-3,8,10-11"; nullopt when
// the text is malformed.
std::optional<uint32_t> CountCpuList(std::string_view text);

// Texts and codes Windows gives for a kernel machine name ("x86_64",
// "aarch64", ...); nullopt for a machine Windows has no name for.
std::optional<std::string> SystemTypeOf(std::string_view machine);
std::optional<uint16_t> ProcessorArchitectureOf(std::string_view machine);
std::optional<std::string> OsArchitectureOf(std::string_view machine);

// ---- /proc/meminfo, /etc/os-release, /proc/stat ----

// "Name: value kB" lines, values in KiB.
std::map<std::string, uint64_t, std::less<>> ParseMemInfo(
    std::string_view text);

// KEY=value lines with shell quoting undone.
std::map<std::string, std::string, std::less<>> ParseOsRelease(
    std::string_view text);

// The "btime" of /proc/stat: boot time in seconds since the epoch.
std::optional<int64_t> ParseBootTime(std::string_view text);

// `t` in the local time zone as a CIM datetime,
// "YYYYMMDDHHMMSS.000000+MMM" with the offset from UTC in minutes.
std::string CimDatetimeLocal(time_t t);

// A firmware date "MM/DD/YYYY" as "YYYYMMDD000000.000000+000"; nullopt when
// the text has another shape.
std::optional<std::string> CimDateFromFirmware(std::string_view mmddyyyy);

// ---- block devices ----

// How a block device hangs off the machine, as Windows would name its bus.
enum class Attachment {
  kUnknown,
  kIde,   // libata host other than AHCI (ata_piix, pata_*)
  kAhci,  // AHCI SATA controller (ahci, sata_nv)
  kScsi,  // any other SCSI host
  kUsb,   // anything below a USB device
  kNvme,
  kVirtio,
};

struct BlockDevice {
  std::string name;     // "sda"
  std::string devPath;  // "/sys/devices/.../block/sda", or "/sys/block/sda"
                        // when it is no link
};

// SCSI-style address "host:channel:target:lun" of a device path.
struct ScsiAddress {
  uint32_t host = 0, channel = 0, target = 0, lun = 0;
};
std::optional<ScsiAddress> ScsiAddressOf(std::string_view devPath);

// The parts of a CD-ROM drive's Windows device identifier.
struct CdromIdentity {
  Attachment attachment = Attachment::kUnknown;
  std::string vendor, model, rev;  // trimmed
  std::string instance;            // after the last backslash
};
std::string FormCdromDeviceId(const CdromIdentity& id);

// 32-bit FNV-1a, the stand-in for the hashes Windows puts into instance
// identifiers.
uint32_t Fnv1a32(std::string_view text);

// A link target resolved against the folder that holds the link, by text
// alone, never above "/".
std::string ResolveLink(std::string_view dir, std::string_view target);

// ---- devices behind class entries (network, display, power) ----

// The hardware a class device (a network interface, a DRM card) sits on.
struct Hardware {
  enum class Bus { kNone, kPci, kUsb } bus = Bus::kNone;
  std::string path;      // the PCI function, or the USB device (not its
                         // interface); empty for kNone
  std::string bound;     // the device the driver is bound to
  std::string vendorId;  // four lower-case hex digits
  std::string deviceId;
};

// The name of a vendor ("8086") or, with `device`, of one of its devices in
// a pci.ids or usb.ids text; nullopt when not listed.
std::optional<std::string> IdsName(std::string_view ids,
                                   std::string_view vendor,
                                   std::string_view device = {});

// A network interface other than loopback.
struct NetInterface {
  std::string name;  // "eth0"
  std::string path;  // its folder below /sys/devices
};

// A mounted file system that Windows would show as a drive.
struct Mount {
  std::string source;  // "/dev/sda1", "server:/export"
  std::string dir;     // the mount point, octal escapes undone
  std::string type;    // "ext4"
};

// The lines of a mount table (/proc/self/mounts) that stand for drives:
// block devices but loop devices, and network file systems.
std::vector<Mount> ParseMounts(std::string_view text);

// Name resolution and routes.
std::vector<std::string> ParseNameservers(std::string_view resolvConf);
// Default gateways of an interface from /proc/net/route and
// /proc/net/ipv6_route, in the order the tables list them.
std::vector<std::string> ParseGateways(std::string_view route,
                                       std::string_view ipv6Route,
                                       std::string_view iface);

// An address of an interface, from getifaddrs on the real root.
struct IfAddress {
  std::string iface;
  bool v6 = false;
  std::string address;  // "192.168.1.5", "fe80::1"
  std::string subnet;   // "255.255.255.0"; for IPv6 the prefix length "64"
};

// ---- the firmware's SMBIOS table (smbios.cpp) ----

// One structure: its formatted area (type, length and handle first) and its
// strings, viewing the table that holds it.
struct SmbiosStructure {
  uint8_t type = 0;
  uint16_t handle = 0;
  size_t ordinal = 0;  // among the structures of its type, in table order
  std::string_view formatted;
  std::vector<std::string_view> strings;

  // Little-endian fields at `offset` of the formatted area; nullopt for a
  // field that reaches beyond the structure's length.
  std::optional<uint8_t> Byte(size_t offset) const;
  std::optional<uint16_t> Word(size_t offset) const;
  std::optional<uint32_t> Dword(size_t offset) const;
  std::optional<uint64_t> Qword(size_t offset) const;
  // The string the byte at `offset` numbers: empty for number 0, nullopt
  // when the field is beyond the length or the number beyond the strings.
  std::optional<std::string> String(size_t offset) const;
};

struct SmbiosTable {
  uint8_t major = 0, minor = 0;  // the entry point's version bytes
  std::string data;
  std::vector<SmbiosStructure> structures;  // in table order

  // The structures of `type`, in table order.
  std::vector<const SmbiosStructure*> OfType(uint8_t type) const;
};

// The table of an entry point ("_SM_", "_SM3_" or a bare "_DMI_") and the
// structures after it. Null when the entry point is none of those; a table
// that breaks off, or a structure whose length or strings run past its end,
// ends the walk there, keeping the structures read whole before it.
std::shared_ptr<const SmbiosTable> ParseSmbios(std::string_view entryPoint,
                                               std::string_view table);

// ---- the per-query view of the files ----

// What outlives one query: the firmware's tables, which do not change while
// the program runs, read at most once however many queries ask.
struct RunFacts {
  std::optional<std::shared_ptr<const SmbiosTable>> smbios;
};

// Reads files below the root, each at most once: every answer is kept for
// the rest of the query, and so are the parsed sources. One LiveFacts
// serves one query and is then thrown away, so each query sees fresh facts.
class LiveFacts {
 public:
  explicit LiveFacts(std::string root, std::shared_ptr<RunFacts> run =
                                           std::make_shared<RunFacts>())
      : root_(std::move(root)), run_(std::move(run)) {}

  // Whole contents of an absolute path such as "/proc/cpuinfo"; nullopt
  // when missing or unreadable.
  const std::optional<std::string>& File(const std::string& path);
  // The same with trailing blanks, newlines and NULs cut off.
  std::optional<std::string> Text(const std::string& path);
  // Target of a symbolic link, as stored; nullopt when not a link.
  const std::optional<std::string>& Link(const std::string& path);
  // Names in a directory, sorted; empty when missing.
  const std::vector<std::string>& List(const std::string& path);
  // The earliest modification time, in seconds since the epoch, of the
  // regular files in a directory whose names end in `suffix`; nullopt when
  // there are none.
  std::optional<int64_t> OldestModTime(const std::string& path,
                                       std::string_view suffix);

  // Every path touched, in order, once each: what the query cost.
  const std::vector<std::string>& Touched() const { return touched_; }

  // Parsed sources (cpu.cpp, os.cpp, block.cpp).
  const CpuInfo* Cpu();  // null when /proc/cpuinfo is unreadable
  std::optional<uint64_t> MemInfoKib(std::string_view key);
  std::optional<std::string> OsRelease(std::string_view key);
  std::optional<std::string> Machine();
  const std::vector<BlockDevice>& Disks();
  const std::vector<BlockDevice>& Cdroms();
  // Sources of the network, display, power and file system classes
  // (net.cpp, video.cpp, power.cpp, mounts.cpp).
  const std::vector<NetInterface>& Nets();
  const std::vector<std::string>& DisplayControllers();  // PCI functions
  const std::vector<std::string>& Batteries();           // power_supply folders
  const std::vector<Mount>& Mounts();
  const std::vector<IfAddress>& Addresses();  // empty below a root
  // A name from the PCI ("pci") or USB ("usb") ID database, looked up once.
  std::optional<std::string> IdName(const char* db, const std::string& vendor,
                                    const std::string& device = {});
  // Null when the table cannot be read (it is root's alone) or is no table.
  const SmbiosTable* Smbios();

  const std::string& root() const { return root_; }

 private:
  void LoadBlockDevices();

  std::string root_;
  std::shared_ptr<RunFacts> run_;
  std::map<std::string, std::optional<std::string>, std::less<>> files_;
  std::map<std::string, std::optional<std::string>, std::less<>> links_;
  std::map<std::string, std::vector<std::string>, std::less<>> lists_;
  std::vector<std::string> touched_;

  std::optional<std::optional<CpuInfo>> cpu_;
  std::optional<std::map<std::string, uint64_t, std::less<>>> meminfo_;
  std::optional<std::map<std::string, std::string, std::less<>>> osRelease_;
  std::optional<std::optional<std::string>> machine_;
  std::optional<std::vector<BlockDevice>> disks_, cdroms_;
  std::optional<std::vector<NetInterface>> nets_;
  std::optional<std::vector<std::string>> displays_, batteries_;
  std::optional<std::vector<Mount>> mounts_;
  std::optional<std::vector<IfAddress>> addresses_;
  std::map<std::string, std::optional<std::string>, std::less<>> idNames_;
};

// ---- look-ups the class table uses, by source ----

// DMI (/sys/class/dmi/id) and the device tree.
std::optional<std::string> Dmi(LiveFacts& f, const char* file);
std::optional<std::string> DeviceTreeModel(LiveFacts& f);

// SMBIOS (/sys/firmware/dmi/tables), for the classes made of its
// structures: the one the i-th instance stands for, null past the last.
const SmbiosStructure* SmbiosNth(LiveFacts& f, uint8_t type, size_t i);
// Memory devices with a module installed.
const SmbiosStructure* InstalledMemory(LiveFacts& f, size_t i);
size_t InstalledMemoryCount(LiveFacts& f);
// Processors in a populated socket and not disabled; the count is nullopt
// when the table names no processor.
const SmbiosStructure* ActiveProcessor(LiveFacts& f, size_t i);
std::optional<size_t> ActiveProcessorCount(LiveFacts& f);
// Field decoders, by the structure's type.
std::optional<uint64_t> MemoryCapacityBytes(const SmbiosStructure& device);
// A memory speed whose word at `offset` defers to the dword at `extended`
// when it reads 0xFFFF; an unknown speed is 0.
std::optional<uint32_t> MemorySpeed(const SmbiosStructure& device,
                                    size_t offset, size_t extended);
std::optional<uint16_t> MemoryFormFactor(const SmbiosStructure& device);
std::optional<uint32_t> ArrayMaxCapacityKib(const SmbiosStructure& array);
std::optional<uint64_t> ArrayMaxCapacityExKib(const SmbiosStructure& array);
std::optional<uint16_t> ArrayLocation(const SmbiosStructure& array);
std::optional<std::string> ProcessorId(const SmbiosStructure& processor);
// The firmware's version strings as Windows lists them: the ACPI tables'
// OEM and revision, then the BIOS version.
std::optional<std::vector<std::string>> BiosVersions(LiveFacts& f);
// ACPI's preferred power-management profile.
std::optional<uint16_t> PcSystemType(LiveFacts& f);

// Kernel (/proc/sys/kernel, /proc/stat).
std::optional<std::string> HostName(LiveFacts& f);
std::optional<std::string> KernelRelease(LiveFacts& f);
std::optional<std::string> LastBootUpTime(LiveFacts& f);

// The installation's identity (identity.cpp).
// The value of `key` in `[section]` of an INI-style text (sssd.conf,
// krb5.conf), names matched in any case; nullopt when not set.
std::optional<std::string> IniValue(std::string_view text,
                                    std::string_view section,
                                    std::string_view key);
// /etc/machine-id; nullopt when missing or not yet set.
std::optional<std::string> MachineId(LiveFacts& f);
// The directory domain joined (sssd, else Kerberos' default realm), lower
// case; nullopt for a machine in none.
std::optional<std::string> JoinedDomain(LiveFacts& f);
// The user of the active session on the local seat (seat0).
std::optional<std::string> SeatUser(LiveFacts& f);
// The oldest of the package manager's records as a CIM datetime.
std::optional<std::string> InstallDate(LiveFacts& f);

// CPUs (/proc/cpuinfo, /sys/devices/system/cpu).
std::optional<uint32_t> OnlineCpuCount(LiveFacts& f);
std::optional<uint32_t> MaxClockSpeedMhz(LiveFacts& f, const CpuPackage& p);

// Block devices (/sys/block and the device tree below /sys/devices).
Attachment AttachmentOf(LiveFacts& f, const BlockDevice& d);
std::optional<std::string> DiskInterfaceType(LiveFacts& f,
                                             const BlockDevice& d);
std::optional<std::string> DiskSerialNumber(LiveFacts& f, const BlockDevice& d);
std::optional<uint64_t> BlockSizeBytes(LiveFacts& f, const BlockDevice& d);
// Model, vendor and revision of the device, trimmed.
std::optional<std::string> DeviceAttr(LiveFacts& f, const BlockDevice& d,
                                      const char* attr);
// Device identifier and PNP device identifier of a CD-ROM drive; nullopt
// when the drive's inquiry data cannot be read.
std::optional<std::string> CdromDeviceId(LiveFacts& f, const BlockDevice& d);
// Vendor and model joined by a space; nullopt when neither can be read.
std::optional<std::string> CdromName(LiveFacts& f, const BlockDevice& d);

// The folder an entry of a class or bus folder ("/sys/class/net", "eth0")
// links to, or the entry itself when it is no link.
std::string EntryPath(LiveFacts& f, const std::string& folder,
                      const std::string& name);

// The hardware behind a class device folder (its `device` link); kNone for
// a virtual device.
Hardware HardwareOf(LiveFacts& f, const std::string& classDevice);
// The hardware at a device folder below /sys/devices.
Hardware HardwareAt(LiveFacts& f, const std::string& device);
// Windows' PNP device identifier of PCI and USB hardware; nullopt for other.
std::optional<std::string> PnpDeviceId(LiveFacts& f, const Hardware& hw);
// Vendor and device names: the ID databases, then a USB device's own
// strings.
std::optional<std::string> HardwareVendor(LiveFacts& f, const Hardware& hw);
std::optional<std::string> HardwareName(LiveFacts& f, const Hardware& hw);
// The driver bound to the hardware.
std::optional<std::string> DriverOf(LiveFacts& f, const Hardware& hw);

// Network adapters (net.cpp), by index into Nets().
Hardware NetHardware(LiveFacts& f, size_t i);
std::optional<std::string> NetAdapterType(LiveFacts& f, size_t i);
std::optional<std::string> NetMac(LiveFacts& f, size_t i);
std::optional<bool> NetEnabled(LiveFacts& f, size_t i);
std::optional<bool> NetIpEnabled(LiveFacts& f, size_t i);
std::optional<uint64_t> NetSpeed(LiveFacts& f, size_t i);
std::optional<bool> NetDhcpEnabled(LiveFacts& f, size_t i);
// nullopt below a root: no file there lists an interface's addresses.
std::optional<std::vector<std::string>> NetAddresses(LiveFacts& f, size_t i,
                                                     bool subnets);
std::vector<std::string> NetGateways(LiveFacts& f, size_t i);
std::vector<std::string> NetDnsServers(LiveFacts& f, size_t i);

// Display controllers (video.cpp), by index into DisplayControllers().
Hardware VideoHardware(LiveFacts& f, size_t i);
std::optional<uint64_t> VideoMemoryBytes(LiveFacts& f, size_t i);
// The same as a 32-bit count, capped as Windows caps it.
std::optional<uint32_t> VideoAdapterRam(LiveFacts& f, size_t i);
// Width (`axis` 0) or height (1) of the first mode of a connected
// connector.
std::optional<uint32_t> VideoResolution(LiveFacts& f, size_t i, int axis);
std::optional<std::string> VideoDriverVersion(LiveFacts& f, size_t i);
std::optional<std::string> VideoName(LiveFacts& f, size_t i);

// Batteries (power.cpp), by index into Batteries().
std::optional<std::string> BatteryText(LiveFacts& f, size_t i,
                                       const char* attr);
std::optional<uint16_t> BatteryStatus(LiveFacts& f, size_t i);
std::optional<uint16_t> BatteryCharge(LiveFacts& f, size_t i);  // percent
std::optional<uint16_t> BatteryChemistry(LiveFacts& f, size_t i);
// In mWh; `full` false gives the design capacity.
std::optional<uint32_t> BatteryCapacity(LiveFacts& f, size_t i, bool design);
std::optional<uint64_t> BatteryDesignVoltage(LiveFacts& f, size_t i);
std::optional<uint32_t> BatteryRunTime(LiveFacts& f, size_t i);
std::optional<std::string> BatteryDeviceId(LiveFacts& f, size_t i);
std::optional<std::string> BatteryHealth(LiveFacts& f, size_t i);

// Logical disks (mounts.cpp), by index into Mounts().
std::optional<uint32_t> DriveType(LiveFacts& f, size_t i);
std::optional<std::string> DriveDescription(LiveFacts& f, size_t i);
std::string DriveFileSystem(std::string_view type);
// Free and total bytes; nullopt below a root and for network drives.
std::optional<uint64_t> DriveSpace(LiveFacts& f, size_t i, bool free);
// The file system's label or UUID, from /dev/disk/by-label or by-uuid.
std::optional<std::string> DriveLabel(LiveFacts& f, size_t i);
std::optional<std::string> DriveSerial(LiveFacts& f, size_t i);

// ---- the class table ----

// Every class served, with its properties in the order WMI walks them.
const std::vector<ClassDef>& LiveClasses();

// The instances of `cls` (one of LiveClasses()) with values for the
// `selected` properties only, read through `facts`.
HRESULT LiveInstances(const ClassDef& cls, const std::vector<size_t>& selected,
                      LiveFacts& facts,
                      std::vector<std::shared_ptr<const Instance>>& out);

}  // namespace posix_wmi
