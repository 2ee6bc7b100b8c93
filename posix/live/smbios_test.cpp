// Tests of the SMBIOS reader on damaged and odd tables: what survives, and
// that nothing reads past a structure.
#include <gtest/gtest.h>

#include "posix/live/facts.h"

namespace posix_wmi {
namespace {

std::string Ep64(uint32_t length) {
  std::string ep("_SM3_\0\x18\x03\x06\0\x01\0", 12);
  for (int i = 0; i < 4; ++i) ep += static_cast<char>(length >> (8 * i));
  return ep + std::string(8, '\0');
}

// Type 3, length 6, handle 1, manufacturer string 1, chassis type 10.
const std::string kChassis(
    "\x03\x06\x01\x00\x01\x0A"
    "Acme\0\0",
    12);

TEST(Smbios, DamagedTablesKeepWhatIsWhole) {
  struct Case {
    const char* what;
    std::string entryPoint, table;
    int structures;  // -1: no table at all
  };
  const std::string eof("\x7F\x04\x02\x00\0\0", 6);
  const Case cases[] = {
      {"whole", Ep64(100), kChassis + eof + kChassis, 2},
      {"no entry point", "_SM4_" + std::string(30, '\0'), kChassis, -1},
      {"short entry point", Ep64(100).substr(0, 20), kChassis, -1},
      {"table shorter than the entry point says", Ep64(100), kChassis, 1},
      {"table cut by the entry point", Ep64(8), kChassis + kChassis, 0},
      {"length below the header", Ep64(100),
       std::string{'\x03', '\x02', '\x01', '\x00', '\x00', '\x00'} + kChassis,
       0},
      {"length past the end", Ep64(100),
       kChassis + std::string{'\x03', '\x40', '\x02', '\x00'}, 1},
      {"strings without an end", Ep64(100), kChassis + kChassis.substr(0, 10),
       1},
      {"32-bit",
       std::string("_SM_\0\x1F\x02\x07", 8) + std::string(14, '\0') +
           std::string("\x0C\x00", 2) + std::string(9, '\0'),
       kChassis + kChassis, 1},
      {"bare DMI",
       std::string("_DMI_\0\x0C\x00", 8) + std::string(6, '\0') + "\x21",
       kChassis, 1},
  };
  for (const Case& c : cases) {
    auto t = ParseSmbios(c.entryPoint, c.table);
    if (c.structures < 0) {
      EXPECT_EQ(t, nullptr) << c.what;
      continue;
    }
    ASSERT_NE(t, nullptr) << c.what;
    EXPECT_EQ(static_cast<int>(t->structures.size()), c.structures) << c.what;
  }
  EXPECT_EQ(ParseSmbios(cases[9].entryPoint, kChassis)->minor, 1);
}

TEST(Smbios, FieldsBeyondTheLengthAreAbsent) {
  std::string table = kChassis + std::string("\x03\x06\x02\x00\x00\x0A\0\0", 8);
  auto t = ParseSmbios(Ep64(100), table);
  ASSERT_EQ(t->structures.size(), 2u);
  const SmbiosStructure& s = t->structures[0];
  EXPECT_EQ(s.String(4), "Acme");
  EXPECT_EQ(s.Byte(5), 0x0A);
  EXPECT_EQ(s.Word(4), 0x0A01);
  EXPECT_EQ(s.Word(5), std::nullopt);
  EXPECT_EQ(s.Dword(3), std::nullopt);
  EXPECT_EQ(s.Qword(0), std::nullopt);
  EXPECT_EQ(s.String(5), std::nullopt);  // string 10 of 1
  EXPECT_EQ(s.String(6), std::nullopt);
  EXPECT_EQ(t->structures[1].String(4), "");  // string number 0
  EXPECT_EQ(t->structures[1].ordinal, 1u);
  EXPECT_EQ(t->structures[1].handle, 2);
}

}  // namespace
}  // namespace posix_wmi
