// This machine's facts as root\cimv2 classes: the live provider that the
// stand-in WMI service uses when no repository file is named. The table
// below is the whole list of what is served; the look-ups it calls live in
// one file per source (firmware, smbios and hardware, os, identity, cpu,
// block, ids, net, video, power, mounts) and read files through facts.cpp.
#include <algorithm>
#include <cctype>
#include <mutex>

#include "posix/live/facts.h"
#include "posix/wbem/names.h"
#include "posix/wbem/wbemcli.h"
#include "text/utf.h"

namespace posix_wmi {
namespace {

// Sysfs and procfs texts are UTF-8 (the stand-in's ANSI code page too); a
// byte that does not decode becomes U+FFFD rather than failing the value.
CimValue Str(const std::optional<std::string>& s) {
  if (!s) return {};
  return CimValue{false, {Utf8ToUtf16(*s)}};
}
template <typename T>
CimValue Unsigned(const std::optional<T>& v) {
  if (!v) return {};
  return CimValue{false, {static_cast<uint64_t>(*v)}};
}
CimValue Bool(const std::optional<bool>& v) {
  if (!v) return {};
  return CimValue{false, {*v}};
}
CimValue Fixed(const char* s) { return Str(std::string(s)); }
// Windows gives NULL, not an empty array, where a list has no entries.
CimValue Strs(const std::optional<std::vector<std::string>>& v) {
  if (!v || v->empty()) return {};
  CimValue out{false, {}};
  for (const std::string& s : *v) out.items.emplace_back(Utf8ToUtf16(s));
  return out;
}

std::optional<uint64_t> Times1024(const std::optional<uint64_t>& kib) {
  if (!kib) return std::nullopt;
  return *kib * 1024;
}

// Instances of Win32_Processor are counted from the same parse, so the
// fallback never serves; it keeps a getter safe on its own.
const CpuPackage& Package(LiveFacts& f, size_t i) {
  static const CpuPackage kNone;
  const CpuInfo* cpu = f.Cpu();
  return cpu && i < cpu->packages.size() ? cpu->packages[i] : kNone;
}

using Getter = CimValue (*)(LiveFacts& f, size_t index);
struct LiveProperty {
  const char* name;
  CimType type;
  Getter get;
  // Declared with the Key qualifier on Windows: the capture tool writes it,
  // and a replay must key its instances as the real machine does.
  bool key = false;
  bool array = false;
};
constexpr bool kKey = true, kArray = true;
struct LiveClass {
  const char* name;
  // Number of instances; null for a class with exactly one.
  size_t (*count)(LiveFacts& f);
  std::vector<LiveProperty> properties;
};

using T = CimType;
using F = LiveFacts;

// ---- getters of the classes made of SMBIOS structures ----

// The structure the i-th instance stands for.
using Pick = const SmbiosStructure* (*)(F& f, size_t i);
const SmbiosStructure* Bios(F& f, size_t) { return SmbiosNth(f, 0, 0); }
const SmbiosStructure* System(F& f, size_t) { return SmbiosNth(f, 1, 0); }
const SmbiosStructure* Enclosure(F& f, size_t i) { return SmbiosNth(f, 3, i); }
const SmbiosStructure* Socket(F& f, size_t i) { return ActiveProcessor(f, i); }
const SmbiosStructure* MemoryArray(F& f, size_t i) {
  return SmbiosNth(f, 16, i);
}
const SmbiosStructure* Memory(F& f, size_t i) { return InstalledMemory(f, i); }

template <Pick P, size_t Offset>
CimValue SmString(F& f, size_t i) {
  const SmbiosStructure* s = P(f, i);
  return Str(s ? s->String(Offset) : std::nullopt);
}
// The structure's string where the table can be read, else the kernel's
// copy of it in /sys/class/dmi/id.
template <Pick P, size_t Offset, const char* kDmiFile>
CimValue SmStringOrDmi(F& f, size_t i) {
  if (!f.Smbios()) return Str(Dmi(f, kDmiFile));
  return SmString<P, Offset>(f, i);
}
template <Pick P, size_t Offset>
CimValue SmByte(F& f, size_t i) {
  const SmbiosStructure* s = P(f, i);
  return Unsigned(s ? s->Byte(Offset) : std::nullopt);
}
template <Pick P, size_t Offset>
CimValue SmWord(F& f, size_t i) {
  const SmbiosStructure* s = P(f, i);
  return Unsigned(s ? s->Word(Offset) : std::nullopt);
}
template <Pick P, typename V,
          std::optional<V> (*Decode)(const SmbiosStructure&)>
CimValue SmDecoded(F& f, size_t i) {
  const SmbiosStructure* s = P(f, i);
  return Unsigned(s ? Decode(*s) : std::nullopt);
}
template <size_t Offset, size_t Extended>
CimValue SmSpeed(F& f, size_t i) {
  const SmbiosStructure* s = Memory(f, i);
  return Unsigned(s ? MemorySpeed(*s, Offset, Extended) : std::nullopt);
}
// Windows numbers the structures of a type from 0 in table order, those
// that make no instance included.
template <Pick P, const char* kPrefix>
CimValue SmTag(F& f, size_t i) {
  const SmbiosStructure* s = P(f, i);
  if (!s) return {};
  return Str(std::string(kPrefix) + std::to_string(s->ordinal));
}
template <const char* kFixed>
CimValue Named(F&, size_t) {
  return Fixed(kFixed);
}

constexpr char kProductFamily[] = "product_family";
constexpr char kProductSku[] = "product_sku";
constexpr char kChassisVendor[] = "chassis_vendor";
constexpr char kChassisSerial[] = "chassis_serial";
constexpr char kChassisAssetTag[] = "chassis_asset_tag";
constexpr char kChassisVersion[] = "chassis_version";
constexpr char kSystemEnclosure[] = "System Enclosure";
constexpr char kEnclosureTag[] = "System Enclosure ";
constexpr char kMemoryTag[] = "Physical Memory ";
constexpr char kArrayTag[] = "Physical Memory Array ";
constexpr char kBaseBoard[] = "Base Board";

// The instance counts: from the table where it can be read, else from what
// the kernel copied of it.
size_t EnclosureCount(F& f) {
  const SmbiosTable* t = f.Smbios();
  if (t) return t->OfType(3).size();
  return Dmi(f, "chassis_type") ? 1 : 0;
}
size_t BoardCount(F& f) {
  const SmbiosTable* t = f.Smbios();
  if (t) return t->OfType(2).empty() ? 0 : 1;
  return Dmi(f, "board_vendor") || Dmi(f, "board_name") ? 1 : 0;
}
size_t ProcessorCount(F& f) {
  if (auto sockets = ActiveProcessorCount(f)) return *sockets;
  const CpuInfo* cpu = f.Cpu();
  return cpu ? cpu->packages.size() : 0;
}

// Every class and property served. Within a class the properties stand in
// the order WMI walks an object's properties: by name.
const std::vector<LiveClass>& Table() {
  static const std::vector<LiveClass> table = {
      {"Win32_BaseBoard",
       BoardCount,
       {
           {"Manufacturer", T::kString,
            [](F& f, size_t) { return Str(Dmi(f, "board_vendor")); }},
           {"Product", T::kString,
            [](F& f, size_t) { return Str(Dmi(f, "board_name")); }},
           {"SerialNumber", T::kString,
            [](F& f, size_t) { return Str(Dmi(f, "board_serial")); }},
           {"Tag", T::kString, Named<kBaseBoard>, kKey},
           {"Version", T::kString,
            [](F& f, size_t) { return Str(Dmi(f, "board_version")); }},
       }},
      {"Win32_BIOS",
       nullptr,
       {
           {"BIOSVersion", T::kString,
            [](F& f, size_t) { return Strs(BiosVersions(f)); }, false, kArray},
           {"Manufacturer", T::kString,
            [](F& f, size_t) { return Str(Dmi(f, "bios_vendor")); }},
           {"ReleaseDate", T::kDatetime,
            [](F& f, size_t) {
              auto date = Dmi(f, "bios_date");
              return Str(date ? CimDateFromFirmware(*date) : std::nullopt);
            }},
           {"SerialNumber", T::kString,
            [](F& f, size_t) { return Str(Dmi(f, "product_serial")); }},
           {"SMBIOSBIOSVersion", T::kString,
            [](F& f, size_t) { return Str(Dmi(f, "bios_version")); }},
           {"SMBIOSMajorVersion", T::kUint16,
            [](F& f, size_t) {
              const SmbiosTable* t = f.Smbios();
              return t ? Unsigned(std::optional<uint8_t>(t->major)) : CimValue{};
            }},
           {"SMBIOSMinorVersion", T::kUint16,
            [](F& f, size_t) {
              const SmbiosTable* t = f.Smbios();
              return t ? Unsigned(std::optional<uint8_t>(t->minor)) : CimValue{};
            }},
           {"SMBIOSPresent", T::kBoolean,
            [](F& f, size_t) {
              return Bool(f.Smbios() || Dmi(f, "bios_vendor"));
            }},
           {"SystemBiosMajorVersion", T::kUint8, SmByte<Bios, 0x14>},
           {"SystemBiosMinorVersion", T::kUint8, SmByte<Bios, 0x15>},
           {"Version", T::kString,
            [](F& f, size_t) { return Str(Dmi(f, "bios_version")); }, kKey},
       }},
      {"Win32_CDROMDrive",
       [](F& f) { return f.Cdroms().size(); },
       {
           {"Caption", T::kString,
            [](F& f, size_t i) { return Str(CdromName(f, f.Cdroms()[i])); }},
           {"DeviceID", T::kString,
            [](F& f, size_t i) { return Str(CdromDeviceId(f, f.Cdroms()[i])); },
            kKey},
           {"Drive", T::kString,
            [](F& f, size_t i) { return Str("/dev/" + f.Cdroms()[i].name); }},
           {"Manufacturer", T::kString,
            [](F& f, size_t i) {
              return Str(DeviceAttr(f, f.Cdroms()[i], "vendor"));
            }},
           {"MediaLoaded", T::kBoolean,
            [](F& f, size_t i) {
              auto size = BlockSizeBytes(f, f.Cdroms()[i]);
              return Bool(size ? std::optional<bool>(*size > 0) : std::nullopt);
            }},
           {"MediaType", T::kString,
            [](F&, size_t) { return Fixed("CD-ROM"); }},
           {"Name", T::kString,
            [](F& f, size_t i) { return Str(CdromName(f, f.Cdroms()[i])); }},
           {"PNPDeviceID", T::kString,
            [](F& f, size_t i) {
              return Str(CdromDeviceId(f, f.Cdroms()[i]));
            }},
       }},
      {"Win32_ComputerSystem",
       nullptr,
       {
           {"Domain", T::kString,
            [](F& f, size_t) { return Str(JoinedDomain(f)); }},
           {"HypervisorPresent", T::kBoolean,
            [](F& f, size_t) {
              const CpuInfo* cpu = f.Cpu();
              return Bool(cpu ? cpu->hypervisor : std::nullopt);
            }},
           {"Manufacturer", T::kString,
            [](F& f, size_t) { return Str(Dmi(f, "sys_vendor")); }},
           {"Model", T::kString,
            [](F& f, size_t) {
              auto model = Dmi(f, "product_name");
              return Str(model ? model : DeviceTreeModel(f));
            }},
           {"Name", T::kString, [](F& f, size_t) { return Str(HostName(f)); },
            kKey},
           {"NumberOfLogicalProcessors", T::kUint32,
            [](F& f, size_t) { return Unsigned(OnlineCpuCount(f)); }},
           {"NumberOfProcessors", T::kUint32,
            [](F& f, size_t) {
              const CpuInfo* cpu = f.Cpu();
              return cpu ? Unsigned(std::optional<size_t>(cpu->packages.size()))
                         : CimValue{};
            }},
           {"PartOfDomain", T::kBoolean,
            [](F& f, size_t) {
              return Bool(JoinedDomain(f).has_value());
            }},
           {"PCSystemType", T::kUint16,
            [](F& f, size_t) { return Unsigned(PcSystemType(f)); }},
           {"SystemFamily", T::kString,
            SmStringOrDmi<System, 0x1A, kProductFamily>},
           {"SystemSKUNumber", T::kString,
            SmStringOrDmi<System, 0x19, kProductSku>},
           {"SystemType", T::kString,
            [](F& f, size_t) {
              auto m = f.Machine();
              return Str(m ? SystemTypeOf(*m) : std::nullopt);
            }},
           {"TotalPhysicalMemory", T::kUint64,
            [](F& f, size_t) {
              return Unsigned(Times1024(f.MemInfoKib("MemTotal")));
            }},
           {"UserName", T::kString,
            [](F& f, size_t) { return Str(SeatUser(f)); }},
           // Windows names a workgroup only for a machine in no domain,
           // and Linux has no workgroup of its own to name.
           {"Workgroup", T::kString, [](F&, size_t) { return CimValue{}; }},
       }},
      {"Win32_ComputerSystemProduct",
       nullptr,
       {
           {"IdentifyingNumber", T::kString,
            [](F& f, size_t) { return Str(Dmi(f, "product_serial")); }, kKey},
           {"Name", T::kString,
            [](F& f, size_t) { return Str(Dmi(f, "product_name")); }, kKey},
           {"UUID", T::kString,
            [](F& f, size_t) {
              auto uuid = Dmi(f, "product_uuid");
              if (uuid)
                for (char& c : *uuid)
                  c = static_cast<char>(
                      std::toupper(static_cast<unsigned char>(c)));
              return Str(uuid);
            }},
           {"Vendor", T::kString,
            [](F& f, size_t) { return Str(Dmi(f, "sys_vendor")); }},
           {"Version", T::kString,
            [](F& f, size_t) { return Str(Dmi(f, "product_version")); }, kKey},
       }},
      {"Win32_DiskDrive",
       [](F& f) { return f.Disks().size(); },
       {
           {"DeviceID", T::kString,
            [](F& f, size_t i) { return Str("/dev/" + f.Disks()[i].name); },
            kKey},
           {"Index", T::kUint32,
            [](F&, size_t i) { return Unsigned(std::optional<size_t>(i)); }},
           {"InterfaceType", T::kString,
            [](F& f, size_t i) {
              return Str(DiskInterfaceType(f, f.Disks()[i]));
            }},
           {"MediaType", T::kString,
            [](F& f, size_t i) {
              auto removable =
                  f.Text("/sys/block/" + f.Disks()[i].name + "/removable");
              if (!removable) return CimValue{};
              return Fixed(*removable == "1" ? "Removable Media"
                                             : "Fixed hard disk media");
            }},
           {"Model", T::kString,
            [](F& f, size_t i) {
              return Str(DeviceAttr(f, f.Disks()[i], "model"));
            }},
           {"Name", T::kString,
            [](F& f, size_t i) { return Str("/dev/" + f.Disks()[i].name); }},
           {"SerialNumber", T::kString,
            [](F& f, size_t i) {
              return Str(DiskSerialNumber(f, f.Disks()[i]));
            }},
           {"Size", T::kUint64,
            [](F& f, size_t i) {
              return Unsigned(BlockSizeBytes(f, f.Disks()[i]));
            }},
       }},
      {"Win32_OperatingSystem",
       nullptr,
       {
           {"Caption", T::kString,
            [](F& f, size_t) { return Str(f.OsRelease("PRETTY_NAME")); }},
           {"CSName", T::kString,
            [](F& f, size_t) { return Str(HostName(f)); }},
           {"FreePhysicalMemory", T::kUint64,
            [](F& f, size_t) {
              return Unsigned(f.MemInfoKib("MemAvailable"));
            }},
           {"InstallDate", T::kDatetime,
            [](F& f, size_t) { return Str(InstallDate(f)); }},
           {"LastBootUpTime", T::kDatetime,
            [](F& f, size_t) { return Str(LastBootUpTime(f)); }},
           {"OSArchitecture", T::kString,
            [](F& f, size_t) {
              auto m = f.Machine();
              return Str(m ? OsArchitectureOf(*m) : std::nullopt);
            }},
           {"SerialNumber", T::kString,
            [](F& f, size_t) { return Str(MachineId(f)); }},
           {"TotalVisibleMemorySize", T::kUint64,
            [](F& f, size_t) { return Unsigned(f.MemInfoKib("MemTotal")); }},
           {"Version", T::kString,
            [](F& f, size_t) { return Str(KernelRelease(f)); }},
       }},
      {"Win32_Processor",
       ProcessorCount,
       {
           {"Architecture", T::kUint16,
            [](F& f, size_t) {
              auto m = f.Machine();
              return Unsigned(m ? ProcessorArchitectureOf(*m) : std::nullopt);
            }},
           {"CurrentClockSpeed", T::kUint32, SmWord<Socket, 0x16>},
           {"DeviceID", T::kString,
            [](F&, size_t i) { return Str("CPU" + std::to_string(i)); }, kKey},
           {"ExternalClock", T::kUint32, SmWord<Socket, 0x12>},
           {"Manufacturer", T::kString,
            [](F& f, size_t i) { return Str(Package(f, i).vendor); }},
           {"MaxClockSpeed", T::kUint32,
            [](F& f, size_t i) {
              return Unsigned(MaxClockSpeedMhz(f, Package(f, i)));
            }},
           {"Name", T::kString,
            [](F& f, size_t i) { return Str(Package(f, i).modelName); }},
           {"NumberOfCores", T::kUint32,
            [](F& f, size_t i) {
              return Unsigned(std::optional<uint32_t>(Package(f, i).cores));
            }},
           {"NumberOfLogicalProcessors", T::kUint32,
            [](F& f, size_t i) {
              return Unsigned(std::optional<uint32_t>(Package(f, i).logical));
            }},
           {"ProcessorId", T::kString,
            [](F& f, size_t i) {
              const SmbiosStructure* s = Socket(f, i);
              return Str(s ? ProcessorId(*s) : std::nullopt);
            }},
           {"SocketDesignation", T::kString, SmString<Socket, 0x04>},
       }},

      {"Win32_Battery",
       [](F& f) { return f.Batteries().size(); },
       {
           {"BatteryStatus", T::kUint16,
            [](F& f, size_t i) { return Unsigned(BatteryStatus(f, i)); }},
           {"Caption", T::kString,
            [](F&, size_t) { return Fixed("Internal Battery"); }},
           {"Chemistry", T::kUint16,
            [](F& f, size_t i) { return Unsigned(BatteryChemistry(f, i)); }},
           {"DesignCapacity", T::kUint32,
            [](F& f, size_t i) { return Unsigned(BatteryCapacity(f, i, true)); }},
           {"DesignVoltage", T::kUint64,
            [](F& f, size_t i) { return Unsigned(BatteryDesignVoltage(f, i)); }},
           {"DeviceID", T::kString,
            [](F& f, size_t i) { return Str(BatteryDeviceId(f, i)); }, kKey},
           {"EstimatedChargeRemaining", T::kUint16,
            [](F& f, size_t i) { return Unsigned(BatteryCharge(f, i)); }},
           {"EstimatedRunTime", T::kUint32,
            [](F& f, size_t i) { return Unsigned(BatteryRunTime(f, i)); }},
           {"FullChargeCapacity", T::kUint32,
            [](F& f, size_t i) {
              return Unsigned(BatteryCapacity(f, i, false));
            }},
           {"Name", T::kString,
            [](F& f, size_t i) { return Str(BatteryText(f, i, "model_name")); }},
           {"Status", T::kString,
            [](F& f, size_t i) { return Str(BatteryHealth(f, i)); }},
       }},
      {"Win32_LogicalDisk",
       [](F& f) { return f.Mounts().size(); },
       {
           {"Description", T::kString,
            [](F& f, size_t i) { return Str(DriveDescription(f, i)); }},
           {"DeviceID", T::kString,
            [](F& f, size_t i) { return Str(f.Mounts()[i].dir); }, kKey},
           {"DriveType", T::kUint32,
            [](F& f, size_t i) { return Unsigned(DriveType(f, i)); }},
           {"FileSystem", T::kString,
            [](F& f, size_t i) {
              return Str(DriveFileSystem(f.Mounts()[i].type));
            }},
           {"FreeSpace", T::kUint64,
            [](F& f, size_t i) { return Unsigned(DriveSpace(f, i, true)); }},
           {"Name", T::kString,
            [](F& f, size_t i) { return Str(f.Mounts()[i].dir); }},
           {"Size", T::kUint64,
            [](F& f, size_t i) { return Unsigned(DriveSpace(f, i, false)); }},
           {"VolumeName", T::kString,
            [](F& f, size_t i) { return Str(DriveLabel(f, i)); }},
           {"VolumeSerialNumber", T::kString,
            [](F& f, size_t i) { return Str(DriveSerial(f, i)); }},
       }},
      {"Win32_NetworkAdapter",
       [](F& f) { return f.Nets().size(); },
       {
           {"AdapterType", T::kString,
            [](F& f, size_t i) { return Str(NetAdapterType(f, i)); }},
           {"Description", T::kString,
            [](F& f, size_t i) {
              return Str(HardwareName(f, NetHardware(f, i)));
            }},
           {"DeviceID", T::kString,
            [](F&, size_t i) { return Str(std::to_string(i)); }, kKey},
           {"Index", T::kUint32,
            [](F&, size_t i) { return Unsigned(std::optional<size_t>(i)); }},
           {"MACAddress", T::kString,
            [](F& f, size_t i) { return Str(NetMac(f, i)); }},
           {"Manufacturer", T::kString,
            [](F& f, size_t i) {
              return Str(HardwareVendor(f, NetHardware(f, i)));
            }},
           {"Name", T::kString,
            [](F& f, size_t i) {
              return Str(HardwareName(f, NetHardware(f, i)));
            }},
           {"NetConnectionID", T::kString,
            [](F& f, size_t i) { return Str(f.Nets()[i].name); }},
           {"NetEnabled", T::kBoolean,
            [](F& f, size_t i) { return Bool(NetEnabled(f, i)); }},
           {"PhysicalAdapter", T::kBoolean,
            [](F& f, size_t i) {
              return Bool(!NetHardware(f, i).bound.empty());
            }},
           {"PNPDeviceID", T::kString,
            [](F& f, size_t i) {
              return Str(PnpDeviceId(f, NetHardware(f, i)));
            }},
           {"ServiceName", T::kString,
            [](F& f, size_t i) { return Str(DriverOf(f, NetHardware(f, i))); }},
           {"Speed", T::kUint64,
            [](F& f, size_t i) { return Unsigned(NetSpeed(f, i)); }},
       }},
      {"Win32_NetworkAdapterConfiguration",
       [](F& f) { return f.Nets().size(); },
       {
           {"DefaultIPGateway", T::kString,
            [](F& f, size_t i) { return Strs(NetGateways(f, i)); }, false,
            kArray},
           {"Description", T::kString,
            [](F& f, size_t i) {
              return Str(HardwareName(f, NetHardware(f, i)));
            }},
           {"DHCPEnabled", T::kBoolean,
            [](F& f, size_t i) { return Bool(NetDhcpEnabled(f, i)); }},
           {"DNSHostName", T::kString,
            [](F& f, size_t i) {
              return NetIpEnabled(f, i) == true ? Str(HostName(f))
                                                : CimValue{};
            }},
           {"DNSServerSearchOrder", T::kString,
            [](F& f, size_t i) { return Strs(NetDnsServers(f, i)); }, false,
            kArray},
           {"Index", T::kUint32,
            [](F&, size_t i) { return Unsigned(std::optional<size_t>(i)); },
            kKey},
           {"IPAddress", T::kString,
            [](F& f, size_t i) { return Strs(NetAddresses(f, i, false)); },
            false, kArray},
           {"IPEnabled", T::kBoolean,
            [](F& f, size_t i) { return Bool(NetIpEnabled(f, i)); }},
           {"IPSubnet", T::kString,
            [](F& f, size_t i) { return Strs(NetAddresses(f, i, true)); },
            false, kArray},
           {"MACAddress", T::kString,
            [](F& f, size_t i) { return Str(NetMac(f, i)); }},
           {"ServiceName", T::kString,
            [](F& f, size_t i) { return Str(DriverOf(f, NetHardware(f, i))); }},
       }},
      {"Win32_VideoController",
       [](F& f) { return f.DisplayControllers().size(); },
       {
           {"AdapterCompatibility", T::kString,
            [](F& f, size_t i) {
              return Str(HardwareVendor(
                  f, VideoHardware(f, i)));
            }},
           {"AdapterRAM", T::kUint32,
            [](F& f, size_t i) { return Unsigned(VideoAdapterRam(f, i)); }},
           {"Caption", T::kString,
            [](F& f, size_t i) { return Str(VideoName(f, i)); }},
           {"CurrentHorizontalResolution", T::kUint32,
            [](F& f, size_t i) { return Unsigned(VideoResolution(f, i, 0)); }},
           {"CurrentRefreshRate", T::kUint32,
            [](F&, size_t) { return CimValue{}; }},
           {"CurrentVerticalResolution", T::kUint32,
            [](F& f, size_t i) { return Unsigned(VideoResolution(f, i, 1)); }},
           {"Description", T::kString,
            [](F& f, size_t i) { return Str(VideoName(f, i)); }},
           {"DeviceID", T::kString,
            [](F&, size_t i) {
              return Str("VideoController" + std::to_string(i + 1));
            },
            kKey},
           {"DriverVersion", T::kString,
            [](F& f, size_t i) { return Str(VideoDriverVersion(f, i)); }},
           {"Name", T::kString,
            [](F& f, size_t i) { return Str(VideoName(f, i)); }},
           {"PNPDeviceID", T::kString,
            [](F& f, size_t i) {
              return Str(
                  PnpDeviceId(f, VideoHardware(f, i)));
            }},
           {"VideoProcessor", T::kString,
            [](F& f, size_t i) {
              return Str(
                  HardwareName(f, VideoHardware(f, i)));
            }},
       }},

      // ---- classes made of SMBIOS structures ----
      {"Win32_SystemEnclosure",
       EnclosureCount,
       {
           {"Caption", T::kString, Named<kSystemEnclosure>},
           {"ChassisTypes", T::kUint16,
            [](F& f, size_t i) {
              std::optional<uint8_t> type;
              if (!f.Smbios()) {
                uint32_t v;
                auto text = Dmi(f, "chassis_type");
                if (text && ParseU32(*text, v) && v < 128)
                  type = static_cast<uint8_t>(v);
              } else if (const SmbiosStructure* s = Enclosure(f, i)) {
                auto b = s->Byte(0x05);
                if (b) type = *b & 0x7F;
              }
              return type ? CimValue{false, {uint64_t{*type}}} : CimValue{};
            },
            false, kArray},
           {"LockPresent", T::kBoolean,
            [](F& f, size_t i) {
              const SmbiosStructure* s = Enclosure(f, i);
              auto b = s ? s->Byte(0x05) : std::nullopt;
              return Bool(b ? std::optional<bool>(*b & 0x80) : std::nullopt);
            }},
           {"Manufacturer", T::kString,
            SmStringOrDmi<Enclosure, 0x04, kChassisVendor>},
           {"Name", T::kString, Named<kSystemEnclosure>},
           {"SerialNumber", T::kString,
            SmStringOrDmi<Enclosure, 0x07, kChassisSerial>},
           {"SMBIOSAssetTag", T::kString,
            SmStringOrDmi<Enclosure, 0x08, kChassisAssetTag>},
           {"Tag", T::kString,
            [](F& f, size_t i) {
              if (!f.Smbios()) return Fixed("System Enclosure 0");
              return SmTag<Enclosure, kEnclosureTag>(f, i);
            },
            kKey},
           {"Version", T::kString,
            SmStringOrDmi<Enclosure, 0x06, kChassisVersion>},
       }},
      {"Win32_PhysicalMemory",
       InstalledMemoryCount,
       {
           {"BankLabel", T::kString, SmString<Memory, 0x11>},
           {"Capacity", T::kUint64,
            SmDecoded<Memory, uint64_t, MemoryCapacityBytes>},
           {"ConfiguredClockSpeed", T::kUint32, SmSpeed<0x20, 0x58>},
           {"ConfiguredVoltage", T::kUint32, SmWord<Memory, 0x26>},
           {"DataWidth", T::kUint16, SmWord<Memory, 0x0A>},
           {"DeviceLocator", T::kString, SmString<Memory, 0x10>},
           {"FormFactor", T::kUint16,
            SmDecoded<Memory, uint16_t, MemoryFormFactor>},
           {"Manufacturer", T::kString, SmString<Memory, 0x17>},
           {"PartNumber", T::kString, SmString<Memory, 0x1A>},
           {"SerialNumber", T::kString, SmString<Memory, 0x18>},
           {"SMBIOSMemoryType", T::kUint32, SmByte<Memory, 0x12>},
           {"Speed", T::kUint32, SmSpeed<0x15, 0x54>},
           {"Tag", T::kString, SmTag<Memory, kMemoryTag>, kKey},
           {"TotalWidth", T::kUint16, SmWord<Memory, 0x08>},
           {"TypeDetail", T::kUint16, SmWord<Memory, 0x13>},
       }},
      {"Win32_PhysicalMemoryArray",
       [](F& f) {
         const SmbiosTable* t = f.Smbios();
         return t ? t->OfType(16).size() : 0;
       },
       {
           {"Location", T::kUint16,
            SmDecoded<MemoryArray, uint16_t, ArrayLocation>},
           {"MaxCapacity", T::kUint32,
            SmDecoded<MemoryArray, uint32_t, ArrayMaxCapacityKib>},
           {"MaxCapacityEx", T::kUint64,
            SmDecoded<MemoryArray, uint64_t, ArrayMaxCapacityExKib>},
           {"MemoryDevices", T::kUint16, SmWord<MemoryArray, 0x0D>},
           {"MemoryErrorCorrection", T::kUint16, SmByte<MemoryArray, 0x06>},
           {"Tag", T::kString, SmTag<MemoryArray, kArrayTag>, kKey},
           {"Use", T::kUint16, SmByte<MemoryArray, 0x05>},
       }},

      // ---- devices, network and drives: sysfs, procfs and the ID
      // databases (ids, net, video, power, mounts) ----
  };
  return table;
}

// The classes above the served ones, as Windows declares them: each
// class's superclass and, of the properties served, those it declares
// itself. A served class names its superclass here too, with no properties:
// its own are its row above. A query of a superclass answers the instances
// of every served class below it, each as its own class presents it.
struct LiveAncestor {
  const char* name;
  const char* superclass;  // empty for a root class
  std::vector<const char*> declares;
};

const std::vector<LiveAncestor>& Ancestors() {
  static const std::vector<LiveAncestor> ancestors = {
      {"Win32_BaseBoard", "CIM_Card", {}},
      {"Win32_BIOS", "CIM_BIOSElement", {}},
      {"Win32_CDROMDrive", "CIM_CDROMDrive", {}},
      {"Win32_ComputerSystem", "CIM_UnitaryComputerSystem", {}},
      {"Win32_ComputerSystemProduct", "CIM_Product", {}},
      {"Win32_DiskDrive", "CIM_DiskDrive", {}},
      {"Win32_OperatingSystem", "CIM_OperatingSystem", {}},
      {"Win32_Processor", "CIM_Processor", {}},
      {"Win32_Battery", "CIM_Battery", {}},
      {"Win32_LogicalDisk", "CIM_LogicalDisk", {}},
      {"Win32_NetworkAdapter", "CIM_NetworkAdapter", {}},
      {"Win32_NetworkAdapterConfiguration", "CIM_Setting", {}},
      {"Win32_VideoController", "CIM_PCVideoController", {}},
      {"Win32_SystemEnclosure", "CIM_Chassis", {}},
      {"Win32_PhysicalMemory", "CIM_PhysicalMemory", {}},
      {"Win32_PhysicalMemoryArray", "CIM_PhysicalPackage", {}},
      {"CIM_Chassis", "CIM_PhysicalFrame", {"ChassisTypes"}},
      {"CIM_PhysicalFrame", "CIM_PhysicalPackage", {"LockPresent"}},
      {"CIM_PhysicalMemory",
       "CIM_Chip",
       {"BankLabel", "Capacity", "DataWidth", "Speed", "TotalWidth"}},
      {"CIM_Chip", "CIM_PhysicalComponent", {"FormFactor"}},
      {"CIM_PhysicalComponent", "CIM_PhysicalElement", {}},
      {"CIM_Battery",
       "CIM_LogicalDevice",
       {"BatteryStatus", "Chemistry", "DesignCapacity", "DesignVoltage",
        "EstimatedChargeRemaining", "EstimatedRunTime", "FullChargeCapacity"}},
      {"CIM_Controller", "CIM_LogicalDevice", {}},
      {"CIM_LogicalDisk", "CIM_StorageExtent", {"FreeSpace", "Size"}},
      {"CIM_NetworkAdapter", "CIM_LogicalDevice", {"Speed"}},
      {"CIM_PCVideoController", "CIM_VideoController", {}},
      {"CIM_Setting", "", {"Caption", "Description", "SettingID"}},
      {"CIM_StorageExtent", "CIM_LogicalDevice", {}},
      {"CIM_VideoController",
       "CIM_Controller",
       {"CurrentHorizontalResolution", "CurrentRefreshRate",
        "CurrentVerticalResolution", "VideoProcessor"}},
      {"CIM_BIOSElement", "CIM_SoftwareElement", {}},
      {"CIM_Card", "CIM_PhysicalPackage", {}},
      {"CIM_CDROMDrive", "CIM_MediaAccessDevice", {}},
      {"CIM_ComputerSystem", "CIM_System", {}},
      {"CIM_DiskDrive", "CIM_MediaAccessDevice", {}},
      {"CIM_LogicalDevice", "CIM_LogicalElement", {"DeviceID", "PNPDeviceID"}},
      {"CIM_LogicalElement", "CIM_ManagedSystemElement", {}},
      {"CIM_ManagedSystemElement",
       "",
       {"Caption", "Description", "InstallDate", "Name", "Status"}},
      {"CIM_MediaAccessDevice", "CIM_LogicalDevice", {}},
      {"CIM_OperatingSystem",
       "CIM_LogicalElement",
       {"CSName", "FreePhysicalMemory", "LastBootUpTime",
        "TotalVisibleMemorySize", "Version"}},
      {"CIM_PhysicalElement",
       "CIM_ManagedSystemElement",
       {"Manufacturer", "PartNumber", "SerialNumber", "Tag", "Version"}},
      {"CIM_PhysicalPackage", "CIM_PhysicalElement", {}},
      {"CIM_Processor", "CIM_LogicalDevice", {"MaxClockSpeed"}},
      {"CIM_Product",
       "",
       {"Caption", "IdentifyingNumber", "Name", "Vendor", "Version"}},
      {"CIM_SoftwareElement",
       "CIM_LogicalElement",
       {"Manufacturer", "Name", "SerialNumber", "Version"}},
      {"CIM_System", "CIM_LogicalElement", {}},
      {"CIM_UnitaryComputerSystem", "CIM_ComputerSystem", {}},
  };
  return ancestors;
}

// The superclass of a class of the table; empty for a root class or one
// the table does not know.
std::string_view SuperclassOf(std::string_view name) {
  for (const LiveAncestor& a : Ancestors())
    if (SameName(a.name, name)) return a.superclass;
  return {};
}

// Whether `name` is `ancestor` or a class below it.
bool Derives(std::string_view name, std::string_view ancestor) {
  for (; !name.empty(); name = SuperclassOf(name))
    if (SameName(name, ancestor)) return true;
  return false;
}

// The classes above the served ones: the properties each declares or
// inherits that a served class below it has, with that class's type and
// key, by name as the served classes walk.
const std::vector<ClassDef>& Superclasses() {
  static const std::vector<ClassDef> classes = [] {
    std::vector<ClassDef> all;
    for (const LiveAncestor& a : Ancestors()) {
      bool served = false;
      for (const ClassDef& cls : LiveClasses())
        served = served || SameName(cls.name, a.name);
      if (served) continue;
      ClassDef def;
      def.name = a.name;
      def.superclass = a.superclass;
      auto declared = [&](const std::string& property) {
        for (std::string_view up = a.name; !up.empty(); up = SuperclassOf(up))
          for (const LiveAncestor& b : Ancestors())
            if (SameName(b.name, up))
              for (const char* name : b.declares)
                if (SameName(name, property)) return true;
        return false;
      };
      std::vector<PropertyDef> properties;
      for (const ClassDef& cls : LiveClasses()) {
        if (!Derives(cls.name, a.name)) continue;
        for (const PropertyDef& p : cls.properties) {
          bool known = false;
          for (const PropertyDef& q : properties)
            known = known || SameName(q.name, p.name);
          if (!known && declared(p.name)) properties.push_back(p);
        }
      }
      std::sort(properties.begin(), properties.end(),
                [](const PropertyDef& x, const PropertyDef& y) {
                  return LowerName(x.name) < LowerName(y.name);
                });
      for (PropertyDef& p : properties) def.properties.push_back(std::move(p));
      all.push_back(std::move(def));
    }
    return all;
  }();
  return classes;
}

ClassDef MakeClassDef(const LiveClass& lc) {
  ClassDef cls;
  cls.name = lc.name;
  cls.superclass = SuperclassOf(lc.name);
  for (const LiveProperty& p : lc.properties)
    cls.properties.push_back({p.name, p.type, p.array, "", p.key});
  return cls;
}

// A run asks for a few classes of the many served: each definition is built
// when first asked for, not all of them for the first.
const ClassDef& ClassAt(size_t i) {
  static const size_t count = Table().size();
  static const std::unique_ptr<std::once_flag[]> once(
      new std::once_flag[count]);
  static const std::unique_ptr<std::optional<ClassDef>[]> defs(
      new std::optional<ClassDef>[count]);
  std::call_once(once[i], [i] { defs[i].emplace(MakeClassDef(Table()[i])); });
  return *defs[i];
}

class LiveProvider : public Provider {
 public:
  explicit LiveProvider(std::string root) : root_(std::move(root)) {}

  const ClassDef* FindClass(std::string_view name) const override {
    const auto& table = Table();
    for (size_t i = 0; i < table.size(); ++i)
      if (SameName(table[i].name, name)) return &ClassAt(i);
    for (const ClassDef& cls : Superclasses())
      if (SameName(cls.name, name)) return &cls;
    return nullptr;
  }

  // One reading of the facts serves every class below cls.
  HRESULT Instances(
      const ClassDef& cls, const Selection& sel,
      std::vector<std::shared_ptr<const Instance>>& out) override {
    LiveFacts facts(root_, run_);
    const auto& table = Table();
    for (size_t i = 0; i < table.size(); ++i) {
      if (!Derives(table[i].name, cls.name)) continue;
      const ClassDef& served = ClassAt(i);
      HRESULT hr =
          LiveInstances(served, SelectedOf(cls, sel, served), facts, out);
      if (FAILED(hr)) return hr;
    }
    return S_OK;
  }

 private:
  std::string root_;
  std::shared_ptr<RunFacts> run_ = std::make_shared<RunFacts>();
};

}  // namespace

const std::vector<ClassDef>& LiveClasses() {
  static const std::vector<ClassDef> classes = [] {
    std::vector<ClassDef> all;
    for (size_t i = 0; i < Table().size(); ++i) all.push_back(ClassAt(i));
    return all;
  }();
  return classes;
}

HRESULT LiveInstances(const ClassDef& cls, const std::vector<size_t>& selected,
                      LiveFacts& facts,
                      std::vector<std::shared_ptr<const Instance>>& out) {
  const LiveClass* lc = nullptr;
  for (const LiveClass& candidate : Table())
    if (SameName(candidate.name, cls.name)) lc = &candidate;
  if (!lc || lc->properties.size() != cls.properties.size())
    return WBEM_E_INVALID_CLASS;
  size_t count = lc->count ? lc->count(facts) : 1;
  for (size_t i = 0; i < count; ++i) {
    auto inst = std::make_shared<Instance>();
    inst->cls = &cls;
    inst->values.resize(cls.properties.size());
    for (size_t p : selected)
      if (p < lc->properties.size())
        inst->values[p] = lc->properties[p].get(facts, i);
    out.push_back(std::move(inst));
  }
  return S_OK;
}

std::unique_ptr<Provider> MakeLiveProvider(const std::string& fsRoot) {
  return std::make_unique<LiveProvider>(fsRoot);
}

}  // namespace posix_wmi
