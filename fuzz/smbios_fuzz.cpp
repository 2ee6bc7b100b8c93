// Fuzzes the SMBIOS reader and the decoders of its fields: every structure
// it keeps lies inside the table, and no field or string read leaves it.
// Input: one byte giving the entry point's length, the entry point, then
// the table.
#include "fuzz/reader.h"
#include "posix/live/facts.h"

using posix_wmi::SmbiosStructure;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  ByteReader in(data, size);
  const std::string entryPoint = in.Text(in.Byte() % 48);
  const std::string table = in.Rest();
  auto t = posix_wmi::ParseSmbios(entryPoint, table);
  if (!t) return 0;
  const char* begin = t->data.data();
  const char* end = begin + t->data.size();
  for (const SmbiosStructure& s : t->structures) {
    FUZZ_CHECK(s.formatted.size() >= 4 && s.formatted.data() >= begin &&
               s.formatted.data() + s.formatted.size() <= end);
    for (std::string_view text : s.strings)
      FUZZ_CHECK(text.data() >= begin && text.data() + text.size() <= end);
    for (size_t at = 0; at < s.formatted.size() + 8; ++at) {
      FUZZ_CHECK(s.Qword(at).has_value() == (at + 8 <= s.formatted.size()));
      s.String(at);
    }
    posix_wmi::MemoryCapacityBytes(s);
    posix_wmi::MemorySpeed(s, 0x15, 0x54);
    posix_wmi::MemoryFormFactor(s);
    posix_wmi::ArrayMaxCapacityExKib(s);
    posix_wmi::ArrayLocation(s);
    posix_wmi::ProcessorId(s);
  }
  return 0;
}
