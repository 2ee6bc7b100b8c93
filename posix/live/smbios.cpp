// The firmware's SMBIOS table as the kernel copies it out
// (/sys/firmware/dmi/tables): the entry point, the walk over the structures
// and their fields. The table comes from firmware and may be damaged, so
// every read is checked against what is there: a damaged part ends the walk
// or reads as absent, never past the end.
#include <cstring>

#include "posix/live/facts.h"

namespace posix_wmi {
namespace {

uint64_t LittleEndian(std::string_view bytes, size_t at, size_t width) {
  uint64_t v = 0;
  for (size_t i = 0; i < width; ++i)
    v |= static_cast<uint64_t>(static_cast<uint8_t>(bytes[at + i])) << (8 * i);
  return v;
}

std::optional<uint64_t> Field(std::string_view area, size_t offset,
                              size_t width) {
  if (offset > area.size() || area.size() - offset < width) return std::nullopt;
  return LittleEndian(area, offset, width);
}

// The version and the table's length as the entry point gives them.
struct EntryPoint {
  // cppcheck-suppress unusedStructMember ; read through the optional
  uint8_t major;
  // cppcheck-suppress unusedStructMember
  uint8_t minor;
  // cppcheck-suppress unusedStructMember
  uint64_t length;
};

std::optional<EntryPoint> ReadEntryPoint(std::string_view ep) {
  auto starts = [&](const char* anchor, size_t minSize) {
    return ep.size() >= minSize && ep.compare(0, strlen(anchor), anchor) == 0;
  };
  // 64-bit: only a maximum size is given; the end-of-table structure or the
  // file's end closes the table.
  if (starts("_SM3_", 0x18))
    return EntryPoint{static_cast<uint8_t>(ep[7]), static_cast<uint8_t>(ep[8]),
                      LittleEndian(ep, 0x0C, 4)};
  if (starts("_SM_", 0x1F))
    return EntryPoint{static_cast<uint8_t>(ep[6]), static_cast<uint8_t>(ep[7]),
                      LittleEndian(ep, 0x16, 2)};
  // Before SMBIOS 2.1 the DMI anchor stood alone, its version in BCD.
  if (starts("_DMI_", 0x0F)) {
    auto bcd = static_cast<uint8_t>(ep[0x0E]);
    return EntryPoint{static_cast<uint8_t>(bcd >> 4),
                      static_cast<uint8_t>(bcd & 0x0F),
                      LittleEndian(ep, 0x06, 2)};
  }
  return std::nullopt;
}

// The strings after a formatted area that ends at `at`, and where the next
// structure starts; nullopt when the set runs to the table's end unclosed.
std::optional<size_t> ReadStrings(std::string_view data, size_t at,
                                  std::vector<std::string_view>& strings) {
  // No strings: the area is followed by two NULs.
  if (data.size() - at >= 2 && data[at] == '\0' && data[at + 1] == '\0')
    return at + 2;
  while (at < data.size()) {
    size_t end = data.find('\0', at);
    if (end == std::string_view::npos) return std::nullopt;
    strings.push_back(data.substr(at, end - at));
    at = end + 1;
    if (at < data.size() && data[at] == '\0') return at + 1;
  }
  return std::nullopt;
}

}  // namespace

std::optional<uint8_t> SmbiosStructure::Byte(size_t offset) const {
  auto v = Field(formatted, offset, 1);
  if (!v) return std::nullopt;
  return static_cast<uint8_t>(*v);
}
std::optional<uint16_t> SmbiosStructure::Word(size_t offset) const {
  auto v = Field(formatted, offset, 2);
  if (!v) return std::nullopt;
  return static_cast<uint16_t>(*v);
}
std::optional<uint32_t> SmbiosStructure::Dword(size_t offset) const {
  auto v = Field(formatted, offset, 4);
  if (!v) return std::nullopt;
  return static_cast<uint32_t>(*v);
}
std::optional<uint64_t> SmbiosStructure::Qword(size_t offset) const {
  return Field(formatted, offset, 8);
}

std::optional<std::string> SmbiosStructure::String(size_t offset) const {
  auto number = Byte(offset);
  if (!number) return std::nullopt;
  if (*number == 0) return std::string();
  if (*number > strings.size()) return std::nullopt;
  return std::string(strings[*number - 1]);
}

std::vector<const SmbiosStructure*> SmbiosTable::OfType(uint8_t type) const {
  std::vector<const SmbiosStructure*> out;
  for (const SmbiosStructure& s : structures)
    if (s.type == type) out.push_back(&s);
  return out;
}

// Each step moves on by at least the four header bytes, so the walk ends
// however the lengths are set.
std::shared_ptr<const SmbiosTable> ParseSmbios(std::string_view entryPoint,
                                               std::string_view table) {
  auto ep = ReadEntryPoint(entryPoint);
  if (!ep) return nullptr;
  auto out = std::make_shared<SmbiosTable>();
  out->major = ep->major;
  out->minor = ep->minor;
  out->data.assign(table.substr(0, ep->length));
  std::string_view data = out->data;
  size_t count[256] = {};
  size_t at = 0;
  while (data.size() - at >= 4) {
    auto length = static_cast<uint8_t>(data[at + 1]);
    if (length < 4 || data.size() - at < length) break;
    SmbiosStructure s;
    s.type = static_cast<uint8_t>(data[at]);
    s.handle = static_cast<uint16_t>(LittleEndian(data, at + 2, 2));
    s.formatted = data.substr(at, length);
    auto next = ReadStrings(data, at + length, s.strings);
    if (!next) break;
    s.ordinal = count[s.type]++;
    out->structures.push_back(std::move(s));
    if (out->structures.back().type == 127) break;  // end of table
    at = *next;
  }
  return out;
}

const SmbiosTable* LiveFacts::Smbios() {
  if (!run_->smbios) {
    // Both files are root's: without the entry point the table is not
    // asked for.
    const auto& ep = File("/sys/firmware/dmi/tables/smbios_entry_point");
    const std::optional<std::string>* table =
        ep ? &File("/sys/firmware/dmi/tables/DMI") : nullptr;
    run_->smbios = table && *table ? ParseSmbios(*ep, **table) : nullptr;
  }
  return run_->smbios->get();
}

}  // namespace posix_wmi
