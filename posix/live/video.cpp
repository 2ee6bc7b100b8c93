// Facts about display controllers: the PCI functions of the display class
// (/sys/bus/pci/devices), their memory, their DRM connectors
// (/sys/class/drm) and their drivers (/sys/module).
//
// Sysfs lists a connector's modes, preferred first, but not the mode in
// use; the preferred mode of a connected connector stands for it, which is
// what a desktop runs unless someone chose otherwise. The refresh rate is
// not in sysfs at all.
#include <algorithm>

#include "posix/live/facts.h"

namespace posix_wmi {
namespace {

// Bits of the flags column of a PCI device's `resource` file.
constexpr uint64_t kResourceMem = 0x200, kResourcePrefetch = 0x2000;
// The six standard BARs; the expansion ROM and bridge windows follow.
constexpr int kBars = 6;

std::optional<uint64_t> Hex64(std::string_view s) {
  return s.starts_with("0x") ? ParseHex(s) : std::nullopt;
}

}  // namespace

const std::vector<std::string>& LiveFacts::DisplayControllers() {
  if (displays_) return *displays_;
  displays_.emplace();
  for (const std::string& name : List("/sys/bus/pci/devices")) {
    std::string path = EntryPath(*this, "/sys/bus/pci/devices", name);
    // PCI base class 0x03: VGA, XGA, 3D and other display controllers.
    auto cls = Text(path + "/class");
    if (cls && cls->size() == 8 && cls->starts_with("0x03"))
      displays_->push_back(path);
  }
  return *displays_;
}

// Memory of its own where the driver tells it (amdgpu); otherwise the
// largest prefetchable memory window, which is the video memory on most
// discrete and virtual cards.
std::optional<uint64_t> VideoMemoryBytes(LiveFacts& f, size_t i) {
  const std::string& path = f.DisplayControllers()[i];
  if (auto vram = f.Text(path + "/mem_info_vram_total")) {
    uint64_t bytes;
    if (ParseU64(*vram, bytes)) return bytes;
  }
  const auto& text = f.File(path + "/resource");
  if (!text) return std::nullopt;
  std::string_view rest = *text;
  std::optional<uint64_t> best;
  for (int bar = 0; bar < kBars && !rest.empty(); ++bar) {
    std::string_view line = NextLine(rest);
    size_t a = line.find(' '), b = line.find(' ', a + 1);
    if (a == std::string_view::npos || b == std::string_view::npos) break;
    auto start = Hex64(line.substr(0, a));
    auto end = Hex64(line.substr(a + 1, b - a - 1));
    auto flags = Hex64(Trim(line.substr(b + 1)));
    if (!start || !end || !flags || *end <= *start ||
        (*flags & (kResourceMem | kResourcePrefetch)) !=
            (kResourceMem | kResourcePrefetch))
      continue;
    uint64_t size = *end - *start + 1;
    if (!best || size > *best) best = size;
  }
  return best;
}

Hardware VideoHardware(LiveFacts& f, size_t i) {
  return HardwareAt(f, f.DisplayControllers()[i]);
}

// Windows' property has 32 bits; larger memories show as this.
std::optional<uint32_t> VideoAdapterRam(LiveFacts& f, size_t i) {
  constexpr uint64_t kCap = 0xFFF00000;
  auto bytes = VideoMemoryBytes(f, i);
  if (!bytes) return std::nullopt;
  return static_cast<uint32_t>(std::min(*bytes, kCap));
}

std::optional<uint32_t> VideoResolution(LiveFacts& f, size_t i, int axis) {
  const std::string& path = f.DisplayControllers()[i];
  const auto& drm = f.List("/sys/class/drm");
  for (const std::string& card : drm) {
    if (!card.starts_with("card") || card.find('-') != std::string::npos)
      continue;
    std::string cardPath = EntryPath(f, "/sys/class/drm", card);
    const auto& device = f.Link(cardPath + "/device");
    if (!device || ResolveLink(cardPath, *device) != path) continue;
    for (const std::string& conn : drm) {
      if (!conn.starts_with(card + "-")) continue;
      std::string dir = cardPath;
      dir += "/" + conn;
      if (f.Text(dir + "/status") != "connected") continue;
      const auto& modes = f.File(dir + "/modes");
      if (!modes) continue;
      std::string_view first = *modes;
      first = NextLine(first);
      size_t x = first.find('x');
      uint32_t w, h;
      // "1920x1080", or "1920x1080i" for an interlaced mode.
      std::string_view height = first.substr(x + 1);
      if (height.ends_with('i')) height.remove_suffix(1);
      if (x != std::string_view::npos && ParseU32(first.substr(0, x), w) &&
          ParseU32(height, h))
        return axis == 0 ? w : h;
    }
  }
  return std::nullopt;
}

// A driver built outside the kernel carries a version of its own; one built
// with it has the kernel's.
std::optional<std::string> VideoDriverVersion(LiveFacts& f, size_t i) {
  auto driver = DriverOf(f, VideoHardware(f, i));
  if (!driver) return std::nullopt;
  if (auto version = f.Text("/sys/module/" + *driver + "/version"))
    return version;
  return KernelRelease(f);
}

// The databases name the chip and put the product in brackets:
// "GA106 [GeForce RTX 3060 Lite Hash Rate]"; the product is the name.
std::optional<std::string> VideoName(LiveFacts& f, size_t i) {
  auto chip = HardwareName(f, VideoHardware(f, i));
  if (!chip) return std::nullopt;
  size_t open = chip->find('['), close = chip->rfind(']');
  if (open == std::string::npos || close == std::string::npos || close < open)
    return chip;
  return chip->substr(open + 1, close - open - 1);
}

}  // namespace posix_wmi
