// Facts about mounted file systems as Windows drives: the mount table
// (/proc/self/mounts), the block devices behind it (/sys/class/block), the
// names udev gives file systems (/dev/disk/by-label, /dev/disk/by-uuid), and
// statvfs for the space.
//
// Space is asked of the mounted file system itself, so only on the real
// root: below a tree, the mount points name nothing that is mounted. Network
// file systems are never asked: statvfs on a server that stopped answering
// waits as long as the server does.
#include <sys/statvfs.h>

#include "posix/live/facts.h"

namespace posix_wmi {
namespace {

constexpr std::string_view kNetworkTypes[] = {
    "nfs",  "nfs4", "cifs",       "smb3",           "smbfs",
    "ceph", "afs",  "fuse.sshfs", "fuse.glusterfs",
};

bool IsNetwork(std::string_view type) {
  for (std::string_view t : kNetworkTypes)
    if (type == t) return true;
  return false;
}

// The mount table writes blanks, tabs, newlines and backslashes as octal
// escapes ("\040").
std::string UnescapeOctal(std::string_view s) {
  std::string out;
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '\\' && i + 3 < s.size() && s[i + 1] >= '0' &&
        s[i + 1] <= '3' && s[i + 2] >= '0' && s[i + 2] <= '7' &&
        s[i + 3] >= '0' && s[i + 3] <= '7') {
      out.push_back(static_cast<char>((s[i + 1] - '0') * 64 +
                                      (s[i + 2] - '0') * 8 + (s[i + 3] - '0')));
      i += 3;
    } else {
      out.push_back(s[i]);
    }
  }
  return out;
}

// Udev writes unsafe bytes of a label as "\x20".
std::string UnescapeHex(std::string_view s) {
  std::string out;
  for (size_t i = 0; i < s.size(); ++i) {
    unsigned v;
    if (s[i] == '\\' && i + 3 < s.size() && s[i + 1] == 'x' &&
        sscanf(std::string(s.substr(i + 2, 2)).c_str(), "%2x", &v) == 1 &&
        isxdigit(static_cast<unsigned char>(s[i + 3]))) {
      out.push_back(static_cast<char>(v));
      i += 3;
    } else {
      out.push_back(s[i]);
    }
  }
  return out;
}

std::string Base(std::string_view path) {
  return std::string(path.substr(path.rfind('/') + 1));
}

// The kernel's name of the block device a mount comes from ("sda1",
// "dm-0"): /dev/mapper and /dev/disk names are links to it.
std::string BlockName(LiveFacts& f, const Mount& m) {
  const auto& link = f.Link(m.source);
  return Base(link ? *link : m.source);
}

// The name in a /dev/disk/by-* folder whose link leads to the device.
std::optional<std::string> UdevName(LiveFacts& f, size_t i,
                                    const std::string& folder) {
  const Mount& m = f.Mounts()[i];
  if (IsNetwork(m.type)) return std::nullopt;
  std::string block = BlockName(f, m);
  for (const std::string& name : f.List(folder)) {
    std::string path = folder;
    path += "/" + name;
    const auto& link = f.Link(path);
    if (link && Base(*link) == block) return UnescapeHex(name);
  }
  return std::nullopt;
}

}  // namespace

std::vector<Mount> ParseMounts(std::string_view text) {
  std::vector<Mount> out;
  while (!text.empty()) {
    std::string_view line = NextLine(text);
    std::string_view f[3];
    for (std::string_view& field : f) {
      size_t e = line.find(' ');
      field = line.substr(0, e);
      line =
          e == std::string_view::npos ? std::string_view() : line.substr(e + 1);
    }
    if (f[2].empty()) continue;
    bool block = f[0].starts_with("/dev/") && !f[0].starts_with("/dev/loop");
    if (block || IsNetwork(f[2]))
      out.push_back(
          {UnescapeOctal(f[0]), UnescapeOctal(f[1]), std::string(f[2])});
  }
  return out;
}

const std::vector<Mount>& LiveFacts::Mounts() {
  if (!mounts_) {
    const auto& text = File("/proc/self/mounts");
    mounts_ = ParseMounts(text ? *text : "");
  }
  return *mounts_;
}

std::optional<uint32_t> DriveType(LiveFacts& f, size_t i) {
  const Mount& m = f.Mounts()[i];
  if (IsNetwork(m.type)) return 4;
  std::string block = BlockName(f, m);
  if (block.starts_with("sr")) return 5;
  std::string entry = "/sys/class/block/" + block;
  const auto& link = f.Link(entry);
  if (!link) return 3;
  std::string path = ResolveLink("/sys/class/block", *link);
  // A partition's folder sits in its disk's.
  if (f.Text(path + "/partition") && path.rfind('/') != std::string::npos)
    path.resize(path.rfind('/'));
  return f.Text(path + "/removable") == "1" ? 2 : 3;
}

std::optional<std::string> DriveDescription(LiveFacts& f, size_t i) {
  switch (DriveType(f, i).value_or(0)) {
    case 2:
      return "Removable Disk";
    case 3:
      return "Local Fixed Disk";
    case 4:
      return "Network Connection";
    case 5:
      return "CD-ROM Disc";
    default:
      return std::nullopt;
  }
}

// Windows' names where Windows knows the file system; Linux's elsewhere.
std::string DriveFileSystem(std::string_view type) {
  static constexpr std::pair<std::string_view, std::string_view> kNames[] = {
      {"vfat", "FAT32"}, {"msdos", "FAT"},  {"exfat", "exFAT"},
      {"ntfs", "NTFS"},  {"ntfs3", "NTFS"}, {"iso9660", "CDFS"},
      {"udf", "UDF"},    {"nfs", "NFS"},    {"nfs4", "NFS"},
  };
  for (const auto& [ours, windows] : kNames)
    if (type == ours) return std::string(windows);
  return std::string(type);
}

std::optional<uint64_t> DriveSpace(LiveFacts& f, size_t i, bool free) {
  const Mount& m = f.Mounts()[i];
  struct statvfs st;
  if (!f.root().empty() || IsNetwork(m.type) ||
      statvfs(m.dir.c_str(), &st) != 0)
    return std::nullopt;
  return static_cast<uint64_t>(free ? st.f_bavail : st.f_blocks) * st.f_frsize;
}

std::optional<std::string> DriveLabel(LiveFacts& f, size_t i) {
  return UdevName(f, i, "/dev/disk/by-label");
}

// Windows shows a FAT volume's serial "A1B2-C3D4" as "A1B2C3D4", and the
// low half of NTFS's 64-bit one; other file systems keep their UUID.
std::optional<std::string> DriveSerial(LiveFacts& f, size_t i) {
  auto uuid = UdevName(f, i, "/dev/disk/by-uuid");
  if (!uuid) return std::nullopt;
  std::string s;
  for (char c : *uuid)
    s.push_back(static_cast<char>(toupper(static_cast<unsigned char>(c))));
  if (s.size() == 9 && s[4] == '-') return s.erase(4, 1);
  if (s.size() == 16 && s.find('-') == std::string::npos) return s.substr(8);
  return s;
}

}  // namespace posix_wmi
