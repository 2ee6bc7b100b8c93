// Tests of the classes drawn from devices, network configuration and
// mounts: one table per class over the machine trees, every property.
#include <gtest/gtest.h>

#include "posix/live/facts.h"
#include "posix/live/query_test.h"

namespace posix_wmi {
namespace {

// Every machine tree and what it answers: each instance's values in the
// order of the class's properties, joined by '|'; NULL as "~".
struct TreeCase {
  const char* machine;
  std::vector<std::string> want;
};

void CheckClass(const char* cls, const std::vector<TreeCase>& cases) {
  for (const TreeCase& c : cases) {
    std::vector<std::string> got;
    for (const std::string& inst : Query(c.machine, cls)) {
      std::string values;
      for (size_t at = 0; at < inst.size();) {
        size_t eq = inst.find('=', at), nl = inst.find('\n', eq);
        std::string v = inst.substr(eq + 1, nl - eq - 1);
        values += (at ? "|" : "") + (v == "<null>" ? "~" : v);
        at = nl + 1;
      }
      got.push_back(values);
    }
    EXPECT_EQ(got, c.want) << c.machine << " " << cls;
  }
}

TEST(LiveParse, IdsNames) {
  const char* ids =
      "# comment\n8086  Intel Corporation\n\t15bc  Ethernet (7) I219-V\n"
      "\t\t1849 15bc  Subsystem\n10de  NVIDIA\n\t2504  GA106\n"
      "C 03  Display controller\n\t00  VGA compatible controller\n";
  const struct {
    const char* vendor;
    const char* device;
    std::optional<std::string> want;
  } cases[] = {
      {"8086", "", "Intel Corporation"},
      {"8086", "15bc", "Ethernet (7) I219-V"},
      {"8086", "1849", {}},  // a subsystem line is no device
      {"8086", "2504", {}},  // another vendor's device
      {"10de", "2504", "GA106"},
      {"10de", "00", {}},  // the class lists are no vendor's
      {"c 03", "", {}},
      {"abcd", "", {}},
  };
  for (const auto& c : cases)
    EXPECT_EQ(IdsName(ids, c.vendor, c.device), c.want)
        << c.vendor << ":" << c.device;
}

// A virtual adapter has no hardware behind it; a USB one is named by its
// own strings where no usb.ids is installed; a platform device has no PNP
// identifier Windows would know.
TEST(LiveDevices, NetworkAdapters) {
  CheckClass(
      "Win32_NetworkAdapter",
      {
          {"desktop",
           {"Ethernet "
            "802.3|~|0|0|02:42:AC:11:00:01|~|~|docker0|TRUE|FALSE|~|~|~",
            "Ethernet 802.3|Ethernet Connection (7) I219-V|1|1|70:85:C2:1A:2B:"
            "3C|Intel Corporation|Ethernet Connection (7) I219-V|eno1|TRUE|"
            "TRUE|PCI\\VEN_8086&DEV_15BC&SUBSYS_15BC1849&REV_10\\3&D4811E4E&0&"
            "FE|e1000e|1000000000"}},
          {"laptop",
           {"Ethernet 802.3|USB 10/100/1000 LAN|0|0|00:E0:4C:68:00:01|Realtek|"
            "USB 10/100/1000 LAN|enx00e04c680001|TRUE|TRUE|USB\\VID_0BDA&PID_"
            "8153\\000001|r8152|~",
            "Ethernet 802.3|Wi-Fi 6 AX201|1|1|F4:A4:75:12:34:56|Intel "
            "Corporation|Wi-Fi 6 AX201|wlp0s20f3|TRUE|TRUE|PCI\\VEN_8086&DEV_"
            "A0F0&SUBSYS_02448086&REV_20\\3&D4811E4E&0&A3|iwlwifi|~"}},
          {"armboard",
           {"Ethernet 802.3|~|0|0|DC:A6:32:01:02:03|~|~|eth0|TRUE|TRUE|~|"
            "bcmgenet|1000000000"}},
          {"container",
           {"Ethernet 802.3|~|0|0|02:42:AC:11:00:02|~|~|eth0|TRUE|FALSE|~|~|"
            "10000000000"}},
      });
}

// Gateways from both routing tables; the resolver's servers go to the
// adapters with a gateway, systemd-resolved's own list before its stub;
// DHCP where a lease is left (NetworkManager, systemd-networkd). No tree
// has addresses: they come from the running kernel only.
TEST(LiveDevices, NetworkAdapterConfigurations) {
  CheckClass(
      "Win32_NetworkAdapterConfiguration",
      {
          {"desktop",
           {"~|~|~|~|~|0|~|FALSE|~|02:42:AC:11:00:01|~",
            "{192.168.1.1,fe80::1}|Ethernet Connection (7) I219-V|TRUE|"
            "DESKTOP-7|{192.168.1.1}|1|~|TRUE|~|70:85:C2:1A:2B:3C|e1000e"}},
          {"laptop",
           {"~|USB 10/100/1000 LAN|~|~|~|0|~|FALSE|~|00:E0:4C:68:00:01|r8152",
            "{10.0.0.1}|Wi-Fi 6 AX201|TRUE|x1carbon|{10.0.0.1,2001:db8::53}|1|"
            "~|TRUE|~|F4:A4:75:12:34:56|iwlwifi"}},
          {"armboard",
           {"{192.168.0.1}|~|~|raspberrypi|{192.168.0.1,1.1.1.1}|0|~|TRUE|~|"
            "DC:A6:32:01:02:03|bcmgenet"}},
          {"container",
           {"~|~|~|3f2a9c1b7d4e|~|0|~|TRUE|~|02:42:AC:11:00:02|~"}},
      });
}

// An 8 GiB window capped as Windows caps it; the connector of the card's
// own connected display; a driver without a version of its own has the
// kernel's.
TEST(LiveDevices, VideoControllers) {
  CheckClass(
      "Win32_VideoController",
      {
          {"desktop",
           {"NVIDIA Corporation|4293918720|GeForce RTX 3060 Lite Hash Rate|"
            "2560|~|1440|GeForce RTX 3060 Lite Hash Rate|VideoController1|"
            "535.154.05|GeForce RTX 3060 Lite Hash Rate|PCI\\VEN_10DE&DEV_2504&"
            "SUBSYS_397D1462&REV_A1\\3&9E1958BE&0&00|GA106 [GeForce RTX 3060 "
            "Lite Hash Rate]"}},
          {"laptop",
           {"Intel Corporation|268435456|Iris Xe Graphics|1920|~|1200|Iris Xe "
            "Graphics|VideoController1|6.5.0-35-generic|Iris Xe Graphics|PCI"
            "\\VEN_8086&DEV_9A49&SUBSYS_22D817AA&REV_01\\3&D4811E4E&0&10|"
            "TigerLake-LP GT2 [Iris Xe Graphics]"}},
          {"armboard", {}},
      });
}

// Energy and charge counting, discharging and charging; a mouse's battery
// is left out.
TEST(LiveDevices, Batteries) {
  CheckClass("Win32_Battery",
             {
                 {"laptop",
                  {"1|Internal Battery|8|57000|15440|1234SMP5B10W13975|76|240|"
                   "51240|5B10W13975|OK",
                   "6|Internal Battery|6|22800|11400|BAT1|50|71582788|21660|~|"
                   "OK"}},
                 {"desktop", {}},
             });
}

// Block devices but loop devices, and network shares; removable by the
// disk's flag; labels and serials from udev's links, escapes undone.
TEST(LiveDevices, LogicalDisks) {
  CheckClass(
      "Win32_LogicalDisk",
      {
          {"desktop",
           {"Local Fixed Disk|/|3|ext4|~|/|~|debian|0F3E6D8C-1A2B-4C5D-9E8F-"
            "0123456789AB",
            "Local Fixed Disk|/boot/efi|3|FAT32|~|/boot/efi|~|EFI|A1B2C3D4",
            "CD-ROM Disc|/media/cdrom0|5|CDFS|~|/media/cdrom0|~|Debian 12.5.0 "
            "amd64 1|2024-02-10-10-55-44-00",
            "Network Connection|/mnt/nas media|4|NFS|~|/mnt/nas media|~|~|~"}},
          {"laptop",
           {"Local Fixed Disk|/|3|ext4|~|/|~|~|2C5A0B7E-8D1F-4E3A-9B6C-"
            "5D4E3F2A1B0C",
            "Local Fixed Disk|/boot/efi|3|FAT32|~|/boot/efi|~|~|FA381A2B",
            "Removable Disk|/media/user/USB STICK|2|FAT32|~|/media/user/USB "
            "STICK|~|USB STICK|1234ABCD"}},
          {"armboard",
           {"Local Fixed Disk|/|3|ext4|~|/|~|~|~",
            "Local Fixed Disk|/boot/firmware|3|FAT32|~|/boot/firmware|~|~|~",
            "Network Connection|/mnt/share|4|cifs|~|/mnt/share|~|~|~"}},
          {"container", {}},
      });
}

}  // namespace
}  // namespace posix_wmi
