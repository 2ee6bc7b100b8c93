// Tests of the live provider: its parsers, the CD-ROM identifiers, and whole
// queries over the machine trees in tests/machines.
#include "posix/live/facts.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>  // NOLINT(modernize-deprecated-headers): setenv is POSIX
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "capture/default_classes.h"
#include "posix/live/query_test.h"

namespace posix_wmi {
namespace {

TEST(LiveParse, CpuInfoGroupsProcessorsIntoPackages) {
  // Two sockets given out of order, two cores with two threads each.
  std::string text;
  for (int cpu = 0; cpu < 8; ++cpu) {
    int pkg = cpu % 2 == 0 ? 1 : 0;
    text += "processor\t: " + std::to_string(cpu) +
            "\nvendor_id\t: GenuineIntel\nmodel name\t: Xeon " +
            std::to_string(pkg) +
            "\ncpu MHz\t\t: 2099.6\nphysical id\t: " + std::to_string(pkg) +
            "\ncore id\t\t: " + std::to_string(cpu / 4) +
            "\nflags\t\t: fpu hypervisor lm\n\n";
  }
  CpuInfo info = ParseCpuInfo(text);
  ASSERT_EQ(info.packages.size(), 2u);
  EXPECT_EQ(info.packages[0].physicalId, "0");
  EXPECT_EQ(info.packages[0].firstCpu, 1);
  EXPECT_EQ(info.packages[0].modelName, "Xeon 0");
  EXPECT_EQ(info.packages[1].firstCpu, 0);
  for (const CpuPackage& p : info.packages) {
    EXPECT_EQ(p.logical, 4u);
    EXPECT_EQ(p.cores, 2u);  // no "cpu cores" line: distinct core ids
    EXPECT_EQ(p.vendor, "GenuineIntel");
    EXPECT_DOUBLE_EQ(p.mhz.value_or(0), 2099.6);
  }
  EXPECT_EQ(info.hypervisor, true);
}

TEST(LiveParse, CpuInfoWithoutPackagesOrFlags) {
  CpuInfo arm = ParseCpuInfo(
      "processor\t: 0\nBogoMIPS\t: 108.00\n\nprocessor\t: 1\nBogoMIPS\t: "
      "108.00\n\nHardware\t: BCM2835\nModel\t\t: Pi\n");
  ASSERT_EQ(arm.packages.size(), 1u);
  EXPECT_EQ(arm.packages[0].logical, 2u);
  EXPECT_EQ(arm.packages[0].cores, 2u);
  EXPECT_FALSE(arm.packages[0].modelName);
  EXPECT_FALSE(arm.hypervisor);  // no flags published: unknown, not false

  CpuInfo x86 = ParseCpuInfo("processor : 0\nflags : fpu hypervisorx\n");
  EXPECT_EQ(x86.hypervisor, false);
  EXPECT_TRUE(ParseCpuInfo("").packages.empty());
}

TEST(LiveParse, CpuLists) {
  const std::pair<const char*, std::optional<uint32_t>> cases[] = {
      {"0\n", 1}, {"0-3", 4}, {"0-3,8,10-11\n", 7}, {"", {}}, {"3-1", {}},
      {"0-", {}}, {"a", {}},  {"0,,1", {}},
  };
  for (const auto& [text, want] : cases)
    EXPECT_EQ(CountCpuList(text), want) << text;
}

TEST(LiveParse, MachineNames) {
  EXPECT_EQ(SystemTypeOf("x86_64"), "x64-based PC");
  EXPECT_EQ(SystemTypeOf("i686"), "x86-based PC");
  EXPECT_EQ(SystemTypeOf("aarch64"), "ARM64-based PC");
  EXPECT_EQ(SystemTypeOf("riscv64"), std::nullopt);
  EXPECT_EQ(ProcessorArchitectureOf("i386"), 0);
  EXPECT_EQ(ProcessorArchitectureOf("x86_64"), 9);
  EXPECT_EQ(ProcessorArchitectureOf("aarch64"), 12);
  EXPECT_EQ(OsArchitectureOf("i586"), "32-bit");
  EXPECT_EQ(OsArchitectureOf("aarch64"), "64-bit");
  EXPECT_EQ(OsArchitectureOf("armv7l"), std::nullopt);
}

TEST(LiveParse, OsReleaseQuoting) {
  auto v = ParseOsRelease(
      "# comment\nPRETTY_NAME=\"Debian \\\"12\\\" \\$x\"\nNAME='A \\ B'\n"
      "ID=deb\\ ian\nBROKEN\n=x\nEMPTY=\nOPEN=\"unterminated\n");
  EXPECT_EQ(v["PRETTY_NAME"], "Debian \"12\" $x");
  EXPECT_EQ(v["NAME"], "A \\ B");
  EXPECT_EQ(v["ID"], "deb ian");
  EXPECT_EQ(v["EMPTY"], "");
  EXPECT_EQ(v["OPEN"], "unterminated");
  EXPECT_EQ(v.count("BROKEN"), 0u);
  EXPECT_EQ(v.size(), 5u);
}

TEST(LiveParse, MemInfoAndBootTime) {
  auto m = ParseMemInfo(
      "MemTotal:       16303812 kB\nHugePages_Total:       0\nBad: x kB\n");
  EXPECT_EQ(m["MemTotal"], 16303812u);
  EXPECT_EQ(m["HugePages_Total"], 0u);
  EXPECT_EQ(m.count("Bad"), 0u);

  EXPECT_EQ(ParseBootTime("cpu 1 2\nbtime 1700000000\nprocesses 3\n"),
            1700000000);
  EXPECT_EQ(ParseBootTime("cpu 1 2\nbtime x\n"), std::nullopt);
  EXPECT_EQ(ParseBootTime("xbtime 5\n"), std::nullopt);
}

TEST(LiveParse, Datetimes) {
  {
    ScopedTz tz("CET-1");
    EXPECT_EQ(CimDatetimeLocal(1700000000), "20231114231320.000000+060");
  }
  {
    ScopedTz tz("EST5");
    EXPECT_EQ(CimDatetimeLocal(1700000000), "20231114171320.000000-300");
  }
  {
    ScopedTz tz("IST-5:30");
    EXPECT_EQ(CimDatetimeLocal(0), "19700101053000.000000+330");
  }
  EXPECT_EQ(CimDateFromFirmware("12/18/2019"), "20191218000000.000000+000");
  for (const char* bad : {"2019-12-18", "1/8/2019", "13/01/2019", "12/00/2019",
                          "12/18/19", "ab/cd/efgh"})
    EXPECT_EQ(CimDateFromFirmware(bad), std::nullopt) << bad;
}

TEST(LiveCdrom, DeviceIdForms) {
  struct Case {
    Attachment attachment;
    const char* vendor;
    const char* model;
    const char* rev;
    const char* instance;
    const char* want;
  };
  const Case cases[] = {
      {Attachment::kIde, "HL-DT-ST", "DVDRAM GH22NP20", "1.02", "5&1a&0&6.0.0",
       "IDE\\CDROMHL-DT-ST_DVDRAM_GH22NP20________________1.02____"
       "\\5&1A&0&6.0.0"},
      // Longer fields are cut to their widths; a missing vendor adds no
      // blank.
      {Attachment::kIde, "", "Abcdefghij Abcdefghij Abcdefghij Abcdefghij",
       "123456789", "x",
       "IDE\\CDROMABCDEFGHIJ_ABCDEFGHIJ_ABCDEFGHIJ_ABCDEFG12345678\\X"},
      {Attachment::kUsb, "HL-DT-ST", "DVDRAM GP57EB40", "PR11", "kz5e8&0",
       "USBSTOR\\CDROM&VEN_HL-DT-ST&PROD_DVDRAM_GP57EB40&REV_PR11\\KZ5E8&0"},
      {Attachment::kAhci, "ASUS", "BW-16D1HT", "3.10", "5&1&0&000000",
       "SCSI\\CDROM&VEN_ASUS&PROD_BW-16D1HT&REV_3.10\\5&1&0&000000"},
      {Attachment::kScsi, "QEMU", "QEMU DVD-ROM", "2.5+", "i",
       "SCSI\\CDROM&VEN_QEMU&PROD_QEMU_DVD-ROM&REV_2.5+\\I"},
      {Attachment::kUnknown, "a\tb", "", "", "",
       "SCSI\\CDROM&VEN_A_B&PROD_&REV_\\"},
  };
  for (const Case& c : cases) {
    CdromIdentity id{c.attachment, c.vendor, c.model, c.rev, c.instance};
    EXPECT_EQ(FormCdromDeviceId(id), c.want);
  }
}

TEST(LiveCdrom, ScsiAddresses) {
  auto a = ScsiAddressOf("/sys/devices/x/host6/target6:0:1/6:0:1:2/block/sr1");
  ASSERT_TRUE(a);
  EXPECT_EQ(a->host, 6u);
  EXPECT_EQ(a->target, 1u);
  EXPECT_EQ(a->lun, 2u);
  EXPECT_FALSE(ScsiAddressOf("/sys/devices/virtio1/block/vda"));
  EXPECT_FALSE(ScsiAddressOf("/sys/x/1:2:3:4x/block/sr0"));
}

TEST(LiveMachines, DisksInNameOrderWithoutVirtualDevices) {
  const std::vector<std::string> props = {"DeviceID",      "Index",
                                          "InterfaceType", "MediaType",
                                          "SerialNumber",  "Size"};
  EXPECT_EQ(Query("desktop", "Win32_DiskDrive", props),
            std::vector<std::string>{
                "DeviceID=/dev/sda\nIndex=0\nInterfaceType=IDE\nMediaType="
                "Fixed hard disk media\nSerialNumber=S3Z9NB0K123456A\nSize="
                "500107862016\n"});
  EXPECT_EQ(Query("laptop", "Win32_DiskDrive", props),
            (std::vector<std::string>{
                "DeviceID=/dev/nvme0n1\nIndex=0\nInterfaceType=NVMe\nMediaType="
                "Fixed hard disk media\nSerialNumber=S64KNX0T123456\nSize="
                "512110190592\n",
                "DeviceID=/dev/sda\nIndex=1\nInterfaceType=USB\nMediaType="
                "Removable Media\nSerialNumber=<null>\nSize=30752636928\n",
            }));
  // An SD card: no bus Windows would name, no model file.
  EXPECT_EQ(Query("armboard", "Win32_DiskDrive",
                  {"DeviceID", "InterfaceType", "Model", "SerialNumber"}),
            std::vector<std::string>{
                "DeviceID=/dev/mmcblk0\nInterfaceType=<null>\nModel=<null>\n"
                "SerialNumber=0x1a2b3c4d\n"});
  EXPECT_TRUE(Query("container", "Win32_DiskDrive").empty());
  EXPECT_TRUE(Query("container", "Win32_CDROMDrive").empty());
}

TEST(LiveMachines, ModelCostsOneSmallRead) {
  LiveFacts facts(Machine("desktop"));
  EXPECT_EQ(Query(facts, "Win32_ComputerSystem", {"Model"}),
            std::vector<std::string>{"Model=To Be Filled By O.E.M.\n"});
  EXPECT_EQ(facts.Touched(),
            std::vector<std::string>{"/sys/class/dmi/id/product_name"});

  // Without DMI, the device tree speaks; without either, NULL.
  LiveFacts arm(Machine("armboard"));
  EXPECT_EQ(Query(arm, "Win32_ComputerSystem", {"Model"}),
            std::vector<std::string>{"Model=Raspberry Pi 4 Model B Rev 1.4\n"});
  EXPECT_EQ(arm.Touched().size(), 2u);
  EXPECT_EQ(Query("container", "Win32_ComputerSystem", {"Model"}),
            std::vector<std::string>{"Model=<null>\n"});
}

TEST(LiveMachines, EverySourceReadOnceAndOnlyWhatIsSelected) {
  for (const char* machine :
       {"desktop", "laptop", "armboard", "container", "server", "vm"}) {
    for (const ClassDef& cls : LiveClasses()) {
      LiveFacts facts(Machine(machine));
      Query(facts, cls.name.c_str());
      std::vector<std::string> touched = facts.Touched();
      std::sort(touched.begin(), touched.end());
      EXPECT_EQ(std::adjacent_find(touched.begin(), touched.end()),
                touched.end())
          << machine << " " << cls.name;
    }
  }
  // Memory facts alone need neither the CPUs nor the disks.
  LiveFacts facts(Machine("laptop"));
  Query(facts, "Win32_OperatingSystem", {"FreePhysicalMemory"});
  EXPECT_EQ(facts.Touched(), std::vector<std::string>{"/proc/meminfo"});
}

// The capture tool, built for Windows too, keeps its own copy of the list.
TEST(LiveMachines, CaptureDefaultsAreTheServedClasses) {
  std::vector<std::string> served;
  for (const ClassDef& cls : LiveClasses()) served.push_back(cls.name);
  EXPECT_EQ(served, std::vector<std::string>(std::begin(kDefaultClasses),
                                             std::end(kDefaultClasses)));
}

TEST(LiveMachines, FirmwareStringsStayRawButTrimmed) {
  TempTree t;
  t.Write("/sys/class/dmi/id/bios_vendor", "  Vendor  \n\n");
  t.Write("/sys/class/dmi/id/bios_date", "13/45/2019\n");
  t.Write("/sys/class/dmi/id/product_uuid", "abcdef01-0000\n");
  t.Write("/sys/class/dmi/id/product_name", "Caf\xc3\xa9 \xff\n");
  LiveFacts facts(t.root());
  EXPECT_EQ(
      Query(facts, "Win32_BIOS", {"Manufacturer", "ReleaseDate"}),
      std::vector<std::string>{"Manufacturer=  Vendor\nReleaseDate=<null>\n"});

  auto provider = MakeLiveProvider(t.root());
  const ClassDef* csp = provider->FindClass("WIN32_computersystemproduct");
  ASSERT_NE(csp, nullptr);
  std::vector<std::shared_ptr<const Instance>> out;
  ASSERT_EQ(provider->Instances(*csp, {{1, 2}}, out), S_OK);
  ASSERT_EQ(out.size(), 1u);
  EXPECT_EQ(std::get<std::u16string>(out[0]->values[1].items[0]),
            u"Caf\u00e9 \ufffd");
  EXPECT_EQ(std::get<std::u16string>(out[0]->values[2].items[0]),
            u"ABCDEF01-0000");
  EXPECT_TRUE(out[0]->values[0].isNull);  // not selected
  EXPECT_EQ(provider->FindClass("Win32_Nothing"), nullptr);
}

TEST(LiveMachines, UnreadableAndOddSourcesAreNull) {
  TempTree t;
  t.Write("/sys/class/dmi/id/product_serial", "SECRET\n");
  chmod((t.root() + "/sys/class/dmi/id/product_serial").c_str(), 0);
  fs::create_directories(t.root() + "/sys/class/dmi/id/product_name");
  ASSERT_EQ(mkfifo((t.root() + "/sys/class/dmi/id/sys_vendor").c_str(), 0644),
            0);
  t.Write("/proc/sys/kernel/arch", "mips\n");
  LiveFacts facts(t.root());
  std::string serial = geteuid() == 0 ? "SECRET" : "<null>";
  EXPECT_EQ(Query(facts, "Win32_ComputerSystemProduct",
                  {"IdentifyingNumber", "Name", "Vendor"}),
            std::vector<std::string>{"IdentifyingNumber=" + serial +
                                     "\nName=<null>\nVendor=<null>\n"});
  EXPECT_EQ(Query(facts, "Win32_OperatingSystem",
                  {"Caption", "LastBootUpTime", "OSArchitecture"}),
            std::vector<std::string>{"Caption=<null>\nLastBootUpTime=<null>\n"
                                     "OSArchitecture=<null>\n"});
  EXPECT_TRUE(Query(facts, "Win32_Processor").empty());
}

TEST(LiveMachines, AbsoluteLinksStayBelowTheRoot) {
  TempTree t;
  std::string dev = "/sys/devices/pci0000:00/0000:00:01.1/ata1/host0";
  t.Write(dev + "/scsi_host/host0/proc_name", "ata_piix\n");
  t.Write(dev + "/target0:0:0/0:0:0:0/vendor", "QEMU    \n");
  t.Write(dev + "/target0:0:0/0:0:0:0/model", "QEMU DVD-ROM    \n");
  t.Link(dev + "/target0:0:0/0:0:0:0/block/sr0/device", "../../../0:0:0:0");
  t.Link("/sys/block/sr0", dev + "/target0:0:0/0:0:0:0/block/sr0");
  t.Link("/sys/block/sr1", "../../../../../../../../sys/block/sr1");  // a loop
  LiveFacts facts(t.root());
  EXPECT_EQ(
      Query(facts, "Win32_CDROMDrive", {"Caption", "Drive"}),
      std::vector<std::string>{"Caption=QEMU QEMU DVD-ROM\nDrive=/dev/sr0\n"});
  ASSERT_EQ(facts.Cdroms().size(), 1u);
  EXPECT_EQ(AttachmentOf(facts, facts.Cdroms()[0]), Attachment::kIde);
}

// A CIM superclass answers every served class below it, each instance of
// its own class, and takes only the properties it declares or inherits.
TEST(LiveMachines, SuperclassesAnswerTheirServedSubclasses) {
  auto provider = MakeLiveProvider(Machine("desktop"));
  const ClassDef* device = provider->FindClass("cim_logicaldevice");
  ASSERT_NE(device, nullptr);
  size_t deviceId = 0;
  while (deviceId < device->properties.size() &&
         device->properties[deviceId].name != "DeviceID")
    ++deviceId;
  ASSERT_LT(deviceId, device->properties.size());
  std::vector<std::shared_ptr<const Instance>> out;
  ASSERT_EQ(provider->Instances(*device, {{deviceId}}, out), S_OK);
  std::vector<std::string> classes;
  classes.reserve(out.size());
  for (const auto& inst : out) classes.push_back(inst->cls->name);
  EXPECT_EQ(
      classes,
      (std::vector<std::string>{
          "Win32_CDROMDrive", "Win32_CDROMDrive", "Win32_DiskDrive",
          "Win32_Processor", "Win32_LogicalDisk", "Win32_LogicalDisk",
          "Win32_LogicalDisk", "Win32_LogicalDisk", "Win32_NetworkAdapter",
          "Win32_NetworkAdapter", "Win32_VideoController"}));
  const ClassDef* processor = provider->FindClass("CIM_Processor");
  ASSERT_NE(processor, nullptr);
  std::vector<std::string> names;
  for (const PropertyDef& p : processor->properties) names.push_back(p.name);
  EXPECT_EQ(names,
            (std::vector<std::string>{"DeviceID", "MaxClockSpeed", "Name"}));
}

// The firmware's classes and properties on every tree, each as Windows
// gives it: tags counting empty slots, extended sizes, CIM codes, and the
// kernel's copy of the strings where the table is missing.
TEST(LiveMachines, SmbiosClasses) {
  struct Case {
    const char* machine;
    const char* cls;
    std::vector<std::string> props;
    std::vector<std::string> want;
  };
  const std::vector<std::string> memory = {
      "BankLabel",    "Capacity",         "ConfiguredClockSpeed",
      "DataWidth",    "DeviceLocator",    "FormFactor",
      "SerialNumber", "SMBIOSMemoryType", "Speed",
      "Tag",          "TotalWidth"};
  const std::vector<std::string> enclosure = {"ChassisTypes",   "LockPresent",
                                              "Manufacturer",   "SerialNumber",
                                              "SMBIOSAssetTag", "Tag"};
  const std::vector<std::string> cpu = {"CurrentClockSpeed", "DeviceID",
                                        "ExternalClock", "ProcessorId",
                                        "SocketDesignation"};
  const std::vector<std::string> bios = {
      "BIOSVersion",   "SMBIOSMajorVersion",     "SMBIOSMinorVersion",
      "SMBIOSPresent", "SystemBiosMajorVersion", "SystemBiosMinorVersion"};
  const std::vector<std::string> system = {"PCSystemType", "SystemFamily",
                                           "SystemSKUNumber"};
  const std::vector<std::string> member = {"Domain", "PartOfDomain", "UserName",
                                           "Workgroup"};
  const Case cases[] = {
      {"server",
       "Win32_PhysicalMemory",
       memory,
       {"BankLabel=P0_Node0_Channel0_Dimm1\nCapacity=34359738368\n"
        "ConfiguredClockSpeed=2667\nDataWidth=64\nDeviceLocator=DIMMA2\n"
        "FormFactor=8\nSerialNumber=28D430AA\nSMBIOSMemoryType=26\n"
        "Speed=2667\nTag=Physical Memory 1\nTotalWidth=72\n",
        "BankLabel=P0_Node0_Channel1_Dimm0\nCapacity=34359738368\n"
        "ConfiguredClockSpeed=2667\nDataWidth=64\nDeviceLocator=DIMMB1\n"
        "FormFactor=8\nSerialNumber=28D430B1\nSMBIOSMemoryType=26\n"
        "Speed=2667\nTag=Physical Memory 2\nTotalWidth=72\n"}},
      // Soldered chips: no CIM form; speeds of the extended era.
      {"laptop",
       "Win32_PhysicalMemory",
       {"Capacity", "ConfiguredVoltage", "FormFactor", "PartNumber", "Tag",
        "TypeDetail"},
       {"Capacity=8589934592\nConfiguredVoltage=600\nFormFactor=0\n"
        "PartNumber=K4UBE3D4AA-MGCL\nTag=Physical Memory 0\n"
        "TypeDetail=16512\n",
        "Capacity=8589934592\nConfiguredVoltage=600\nFormFactor=0\n"
        "PartNumber=K4UBE3D4AA-MGCL\nTag=Physical Memory 1\n"
        "TypeDetail=16512\n"}},
      // A 2.7 structure ends before the voltages: NULL, not 0.
      {"vm",
       "Win32_PhysicalMemory",
       {"Capacity", "ConfiguredVoltage", "Speed", "Tag"},
       {"Capacity=4294967296\nConfiguredVoltage=<null>\nSpeed=0\n"
        "Tag=Physical Memory 0\n"}},
      {"desktop", "Win32_PhysicalMemory", {"Tag"}, {}},
      {"server",
       "Win32_PhysicalMemoryArray",
       {},
       {"Location=3\nMaxCapacity=0\nMaxCapacityEx=2147483648\n"
        "MemoryDevices=3\nMemoryErrorCorrection=6\n"
        "Tag=Physical Memory Array 0\nUse=3\n"}},
      {"laptop",
       "Win32_PhysicalMemoryArray",
       {"MaxCapacity", "MaxCapacityEx"},
       {"MaxCapacity=16777216\nMaxCapacityEx=16777216\n"}},
      {"server",
       "Win32_SystemEnclosure",
       enclosure,
       {"ChassisTypes={17}\nLockPresent=FALSE\nManufacturer=Supermicro\n"
        "SerialNumber=0123456789\nSMBIOSAssetTag=To be filled by O.E.M.\n"
        "Tag=System Enclosure 0\n"}},
      {"laptop",
       "Win32_SystemEnclosure",
       {"Caption", "ChassisTypes", "Name"},
       {"Caption=System Enclosure\nChassisTypes={10}\n"
        "Name=System Enclosure\n"}},
      {"armboard", "Win32_SystemEnclosure", enclosure, {}},
      {"server",
       "Win32_Processor",
       cpu,
       {"CurrentClockSpeed=2800\nDeviceID=CPU0\nExternalClock=100\n"
        "ProcessorId=178BFBFF00830F10\nSocketDesignation=CPU1\n"}},
      // The second socket is disabled by the firmware.
      {"vm",
       "Win32_Processor",
       cpu,
       {"CurrentClockSpeed=2700\nDeviceID=CPU0\nExternalClock=0\n"
        "ProcessorId=1FABFBFF000006E3\nSocketDesignation=CPU #000\n"}},
      {"container",
       "Win32_Processor",
       {"DeviceID", "ProcessorId"},
       {"DeviceID=CPU0\nProcessorId=<null>\n"}},
      {"laptop",
       "Win32_BIOS",
       bios,
       {"BIOSVersion={LENOVO - 1620,N32ET86W (1.62 )}\nSMBIOSMajorVersion=3\n"
        "SMBIOSMinorVersion=3\nSMBIOSPresent=TRUE\n"
        "SystemBiosMajorVersion=1\nSystemBiosMinorVersion=62\n"}},
      {"vm",
       "Win32_BIOS",
       bios,
       {"BIOSVersion={6.00}\nSMBIOSMajorVersion=2\nSMBIOSMinorVersion=7\n"
        "SMBIOSPresent=TRUE\nSystemBiosMajorVersion=4\n"
        "SystemBiosMinorVersion=6\n"}},
      {"armboard",
       "Win32_BIOS",
       bios,
       {"BIOSVersion=<null>\nSMBIOSMajorVersion=<null>\n"
        "SMBIOSMinorVersion=<null>\nSMBIOSPresent=FALSE\n"
        "SystemBiosMajorVersion=<null>\nSystemBiosMinorVersion=<null>\n"}},
      {"laptop",
       "Win32_ComputerSystem",
       system,
       {"PCSystemType=2\nSystemFamily=ThinkPad X1 Carbon Gen 9\n"
        "SystemSKUNumber=LENOVO_MT_20XW_BU_Think_FM_ThinkPad X1 Carbon Gen "
        "9\n"}},
      // String number 0 is an empty string.
      {"vm",
       "Win32_ComputerSystem",
       system,
       {"PCSystemType=<null>\nSystemFamily=\nSystemSKUNumber=\n"}},
      {"desktop",
       "Win32_BaseBoard",
       {"Product", "Tag"},
       {"Product=B365M Pro4\nTag=Base Board\n"}},
      {"armboard", "Win32_BaseBoard", {"Tag"}, {}},
      // sssd's first domain wins over Kerberos' realm; of the sessions only
      // the active local one on seat0 names the user.
      {"laptop",
       "Win32_ComputerSystem",
       member,
       {"Domain=corp.example.com\nPartOfDomain=TRUE\nUserName=mara\n"
        "Workgroup=<null>\n"}},
      {"desktop",
       "Win32_ComputerSystem",
       member,
       {"Domain=<null>\nPartOfDomain=FALSE\nUserName=<null>\n"
        "Workgroup=<null>\n"}},
      {"laptop",
       "Win32_OperatingSystem",
       {"SerialNumber"},
       {"SerialNumber=4c1d7e0a9b2f4e6c8d3a5b7f9e1c2d4a\n"}},
      {"server",
       "Win32_OperatingSystem",
       {"InstallDate", "SerialNumber"},
       {"InstallDate=<null>\nSerialNumber=<null>\n"}},
  };
  for (const Case& c : cases)
    EXPECT_EQ(Query(c.machine, c.cls, c.props), c.want)
        << c.machine << " " << c.cls;
}

// dpkg's oldest file list dates the installation; links and other files
// among the records do not, and RPM's database stands in without dpkg.
TEST(LiveMachines, InstallDateIsTheOldestPackageRecord) {
  struct File {
    const char* path;
    time_t mtime;
  };
  struct Case {
    std::vector<File> files;
    const char* want;
  };
  const Case cases[] = {
      {{{"/var/lib/dpkg/info/zlib1g.list", 1700000000},
        {"/var/lib/dpkg/info/base-files.list", 1600000000},
        {"/var/lib/dpkg/info/base-files.md5sums", 1500000000},
        {"/var/lib/rpm/rpmdb.sqlite", 1400000000}},
       "InstallDate=20200913122640.000000+000\n"},
      {{{"/var/lib/rpm/rpmdb.sqlite", 1400000000}},
       "InstallDate=20140513165320.000000+000\n"},
      {{{"/var/lib/dpkg/status", 1400000000}}, "InstallDate=<null>\n"},
  };
  ScopedTz tz("UTC0");
  for (const Case& c : cases) {
    TempTree t;
    for (const File& file : c.files) {
      t.Write(file.path, "");
      struct timespec times[2] = {{file.mtime, 0}, {file.mtime, 0}};
      utimensat(AT_FDCWD, (t.root() + file.path).c_str(), times, 0);
    }
    t.Link("/var/lib/dpkg/info/old.list", "../status");
    LiveFacts facts(t.root());
    EXPECT_EQ(Query(facts, "Win32_OperatingSystem", {"InstallDate"}),
              std::vector<std::string>{c.want})
        << c.want;
  }
}

// The table is read once per run, by the first query that needs it.
TEST(LiveMachines, SmbiosReadOncePerRun) {
  auto run = std::make_shared<RunFacts>();
  LiveFacts first(Machine("server"), run);
  Query(first, "Win32_SystemEnclosure", {"Tag"});
  LiveFacts second(Machine("server"), run);
  EXPECT_EQ(Query(second, "Win32_PhysicalMemory", {"Tag"}).size(), 2u);
  EXPECT_EQ(first.Touched().size(), 2u);
  EXPECT_TRUE(second.Touched().empty());
}

}  // namespace
}  // namespace posix_wmi
