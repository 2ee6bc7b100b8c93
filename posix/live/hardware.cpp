// Facts decoded from the firmware's SMBIOS structures, with Windows'
// meanings: which structures make instances, sizes and speeds in Windows'
// units, SMBIOS codes mapped to CIM's, and the firmware versions Windows
// lists. Also the ACPI facts Windows reads beside them.
#include <cstdio>

#include "posix/live/facts.h"

namespace posix_wmi {
namespace {

constexpr uint8_t kProcessor = 4, kMemoryDevice = 17;

bool Installed(const SmbiosStructure& s) {
  auto size = s.Word(0x0C);
  return size && *size != 0;
}

// Windows counts a socket that holds a processor the firmware did not
// disable (status 2 by the user, 3 by the firmware).
bool Active(const SmbiosStructure& s) {
  auto status = s.Byte(0x18);
  if (!status || !(*status & 0x40)) return false;
  uint8_t cpu = *status & 0x07;
  return cpu != 2 && cpu != 3;
}

template <typename Keep>
const SmbiosStructure* NthKept(LiveFacts& f, uint8_t type, size_t i,
                               Keep keep) {
  const SmbiosTable* t = f.Smbios();
  if (!t) return nullptr;
  for (const SmbiosStructure& s : t->structures)
    if (s.type == type && keep(s) && i-- == 0) return &s;
  return nullptr;
}

template <typename Keep>
size_t CountKept(LiveFacts& f, uint8_t type, Keep keep) {
  const SmbiosTable* t = f.Smbios();
  size_t n = 0;
  if (t)
    for (const SmbiosStructure& s : t->structures)
      n += s.type == type && keep(s);
  return n;
}

}  // namespace

const SmbiosStructure* SmbiosNth(LiveFacts& f, uint8_t type, size_t i) {
  return NthKept(f, type, i, [](const SmbiosStructure&) { return true; });
}

const SmbiosStructure* InstalledMemory(LiveFacts& f, size_t i) {
  return NthKept(f, kMemoryDevice, i, Installed);
}

size_t InstalledMemoryCount(LiveFacts& f) {
  return CountKept(f, kMemoryDevice, Installed);
}

const SmbiosStructure* ActiveProcessor(LiveFacts& f, size_t i) {
  return NthKept(f, kProcessor, i, Active);
}

std::optional<size_t> ActiveProcessorCount(LiveFacts& f) {
  if (CountKept(f, kProcessor, [](const SmbiosStructure&) { return true; }) ==
      0)
    return std::nullopt;
  return CountKept(f, kProcessor, Active);
}

// The size word counts MiB, or KiB with its top bit set; 0x7FFF hands over
// to the extended size, MiB in 31 bits, for modules of 32 GiB and more.
std::optional<uint64_t> MemoryCapacityBytes(const SmbiosStructure& device) {
  auto size = device.Word(0x0C);
  if (!size || *size == 0xFFFF) return std::nullopt;
  if (*size == 0x7FFF) {
    auto extended = device.Dword(0x1C);
    if (!extended) return std::nullopt;
    return static_cast<uint64_t>(*extended & 0x7FFFFFFF) << 20;
  }
  if (*size & 0x8000) return static_cast<uint64_t>(*size & 0x7FFF) << 10;
  return static_cast<uint64_t>(*size) << 20;
}

std::optional<uint32_t> MemorySpeed(const SmbiosStructure& device,
                                    size_t offset, size_t extended) {
  auto speed = device.Word(offset);
  if (!speed) return std::nullopt;
  if (*speed != 0xFFFF) return *speed;
  return device.Dword(extended).value_or(0) & 0x7FFFFFFF;
}

std::optional<uint16_t> MemoryFormFactor(const SmbiosStructure& device) {
  auto ff = device.Byte(0x0E);
  if (!ff) return std::nullopt;
  // CIM's values by SMBIOS code, from 1 (Other); 0 where CIM has no such
  // form (Unknown, Chip, Row of chips, FB-DIMM, Die).
  static constexpr uint16_t kCim[] = {1, 0, 7, 2,  0,  3,  4, 6,
                                      8, 9, 0, 11, 12, 13, 0, 0};
  if (*ff == 0 || *ff > std::size(kCim)) return 0;
  return kCim[*ff - 1];
}

// 0x80000000 KiB hands over to the extended maximum, in bytes.
std::optional<uint32_t> ArrayMaxCapacityKib(const SmbiosStructure& array) {
  auto kib = array.Dword(0x07);
  if (!kib || *kib != 0x80000000) return kib;
  return 0;
}

std::optional<uint64_t> ArrayMaxCapacityExKib(const SmbiosStructure& array) {
  auto kib = array.Dword(0x07);
  if (!kib || *kib != 0x80000000) return kib;
  auto bytes = array.Qword(0x0F);
  if (!bytes) return std::nullopt;
  return *bytes >> 10;
}

// SMBIOS numbers the PC-98 locations from 0xA0; CIM goes on from 11.
std::optional<uint16_t> ArrayLocation(const SmbiosStructure& array) {
  auto location = array.Byte(0x04);
  if (!location) return std::nullopt;
  if (*location >= 0xA0 && *location <= 0xA3) return *location - 0xA0 + 11;
  return *location;
}

// Windows writes the identifier's two doublewords high one (EDX) first.
std::optional<std::string> ProcessorId(const SmbiosStructure& processor) {
  auto eax = processor.Dword(0x08), edx = processor.Dword(0x0C);
  if (!eax || !edx) return std::nullopt;
  char buf[17];
  snprintf(buf, sizeof buf, "%08X%08X", *edx, *eax);
  return std::string(buf);
}

// The first entry is the ACPI root table's OEM identifier, as stored (six
// bytes, blanks kept), and its OEM revision in hex.
std::optional<std::vector<std::string>> BiosVersions(LiveFacts& f) {
  std::vector<std::string> out;
  const std::optional<std::string>* root =
      &f.File("/sys/firmware/acpi/tables/XSDT");
  if (!*root) root = &f.File("/sys/firmware/acpi/tables/RSDT");
  if (*root && (*root)->size() >= 28) {
    const std::string& h = **root;
    uint32_t revision = 0;
    for (size_t i = 0; i < 4; ++i)
      revision |= static_cast<uint32_t>(static_cast<uint8_t>(h[24 + i]))
                  << (8 * i);
    char hex[9];
    snprintf(hex, sizeof hex, "%X", revision);
    out.push_back(h.substr(10, 6) + " - " + hex);
  }
  const SmbiosStructure* bios = SmbiosNth(f, 0, 0);
  std::optional<std::string> version =
      bios ? bios->String(0x05) : Dmi(f, "bios_version");
  if (version) out.push_back(*version);
  if (out.empty()) return std::nullopt;
  return out;
}

std::optional<uint16_t> PcSystemType(LiveFacts& f) {
  auto text = f.Text("/sys/firmware/acpi/pm_profile");
  uint32_t profile;
  if (!text || !ParseU32(*text, profile) || profile > 8) return std::nullopt;
  return static_cast<uint16_t>(profile);
}

}  // namespace posix_wmi
