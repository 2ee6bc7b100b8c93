// Placeholders of the forms a Linux machine tree never shows: addresses,
// GUIDs, arrays with repeats and empty elements, integers, names in another
// case; and properties that only look identifying stay.
#include "capture/redact.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "capture/mof_text.h"
#include "wmi/codepage.h"
#include "wmi/owners.h"

namespace {

TEST(Redactor, StringArraysGetPlaceholdersOfTheirKind) {
  const struct Case {
    const char *cls, *property;
    std::vector<std::string> values, placeholders;
  } cases[] = {
      {"Win32_NetworkAdapterConfiguration",
       "IPAddress",
       {"10.0.0.5", "fe80::1", "10.0.0.5", ""},
       {"192.0.2.1", "2001:db8::1", "192.0.2.1", ""}},
      {"Win32_NetworkAdapter",
       "MACAddress",
       {"00:1A:2B:3C:4D:5E", "x"},
       {"02:00:00:00:00:01", "02:00:00:00:00:02"}},
      {"Win32_Volume", "VolumeSerialNumber", {"AB-12"}, {"REDACTED-1"}},
      {"win32_computersystem", "NAME", {"PC"}, {"REDACTED-1"}},
      {"Win32_NetworkAdapter",
       "GUID",
       {"{6B29FC40-CA47-1067-B31D-00DD010662DA}"},
       {"{00000000-0000-0000-0000-000000000001}"}},
      {"Win32_Volume", "Name", {"C:\\"}, {"C:\\"}},
      {"Win32_Volume", "SerialNumberKind", {"x"}, {"x"}},
  };
  for (const Case& c : cases) {
    Variant value;
    value.v.vt = VT_ARRAY | VT_BSTR;
    value.v.parray = SafeArrayCreateVector(VT_BSTR, 0, c.values.size());
    for (size_t k = 0; k < c.values.size(); ++k)
      static_cast<BSTR*>(value.v.parray->pvData)[k] = AnsiToBstr(c.values[k]);
    Redactor redactor;
    ASSERT_EQ(redactor.Apply(c.cls, c.property, CIM_STRING | CIM_FLAG_ARRAY,
                             &value.v),
              S_OK);
    for (size_t k = 0; k < c.values.size(); ++k) {
      BSTR got = static_cast<BSTR*>(value.v.parray->pvData)[k];
      EXPECT_EQ(WideToUtf8(got, SysStringLen(got)), c.placeholders[k])
          << c.property << " " << c.values[k];
    }
  }
}

TEST(Redactor, IntegersBecomeACounter) {
  Redactor redactor;
  for (auto [signature, placeholder] :
       {std::pair{0x5A3C, 1}, {0x77, 2}, {0x5A3C, 1}}) {
    Variant value;
    value.v.vt = VT_I4;
    value.v.lVal = signature;
    ASSERT_EQ(
        redactor.Apply("Win32_DiskDrive", "Signature", CIM_UINT32, &value.v),
        S_OK);
    EXPECT_EQ(value.v.lVal, placeholder);
  }
}

}  // namespace
