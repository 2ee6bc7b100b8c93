// Placeholders for identifying values. The table names properties by what
// they hold on Windows and on the Linux build alike; a name of the form
// "*Tail" stands for every property whose name ends so, in any class.
#include "capture/redact.h"

#include <charconv>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "capture/mof_text.h"
#include "wmi/cimtype.h"
#include "wmi/codepage.h"

namespace {

using Kind = Redactor::Kind;

struct Rule {
  const char* cls;  // null: every class
  const char* property;
  Kind kind;  // of a string value; an integer's placeholder is a counter
};

// Keep the README's list ("Capturing a machine") in step with this one.
constexpr Rule kRules[] = {
    {nullptr, "*SerialNumber", Kind::kText},
    {nullptr, "IdentifyingNumber", Kind::kText},
    {nullptr, "SMBIOSAssetTag", Kind::kText},
    {nullptr, "ProductID", Kind::kText},
    {nullptr, "PNPDeviceID", Kind::kText},
    {nullptr, "UUID", Kind::kUuid},
    {nullptr, "*GUID", Kind::kUuid},
    {nullptr, "SettingID", Kind::kUuid},
    {nullptr, "SID", Kind::kText},
    {nullptr, "UserName", Kind::kText},
    {nullptr, "RegisteredUser", Kind::kText},
    {nullptr, "PrimaryOwnerName", Kind::kText},
    {nullptr, "Organization", Kind::kText},
    {nullptr, "Domain", Kind::kText},
    {nullptr, "DNSDomain", Kind::kText},
    {nullptr, "DNSDomainSuffixSearchOrder", Kind::kText},
    {nullptr, "Workgroup", Kind::kText},
    {nullptr, "DNSHostName", Kind::kText},
    {nullptr, "CSName", Kind::kText},
    {nullptr, "SystemName", Kind::kText},
    {nullptr, "MACAddress", Kind::kMac},
    {nullptr, "PermanentAddress", Kind::kMac},
    {nullptr, "IPAddress", Kind::kIp4},
    {nullptr, "DefaultIPGateway", Kind::kIp4},
    {nullptr, "DHCPServer", Kind::kIp4},
    {nullptr, "DNSServerSearchOrder", Kind::kIp4},
    {nullptr, "WINSPrimaryServer", Kind::kIp4},
    {nullptr, "WINSSecondaryServer", Kind::kIp4},
    {"Win32_ComputerSystem", "Name", Kind::kText},
    {"Win32_ComputerSystem", "Caption", Kind::kText},
    {"Win32_UserAccount", "Name", Kind::kText},
    {"Win32_UserAccount", "FullName", Kind::kText},
    {"Win32_UserAccount", "Caption", Kind::kText},
    {"Win32_DiskDrive", "Signature", Kind::kNumber},
    // A CD-ROM drive's DeviceID is its PNPDeviceID, serial number included.
    {"Win32_CDROMDrive", "DeviceID", Kind::kText},
};

char Fold(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

}  // namespace

bool Matches(std::string_view name, std::string_view pattern) {
  bool tail = !pattern.empty() && pattern[0] == '*';
  if (tail) pattern.remove_prefix(1);
  if (name.size() < pattern.size() || (!tail && name.size() != pattern.size()))
    return false;
  name.remove_prefix(name.size() - pattern.size());
  for (size_t i = 0; i < name.size(); ++i)
    if (Fold(name[i]) != Fold(pattern[i])) return false;
  return true;
}

namespace {

const Rule* FindRule(const std::string& cls, const std::string& property) {
  for (const Rule& rule : kRules)
    if ((!rule.cls || Matches(cls, rule.cls)) &&
        Matches(property, rule.property))
      return &rule;
  return nullptr;
}

std::string Format(const char* format, unsigned n) {
  char text[64];
  std::snprintf(text, sizeof text, format, n);
  return text;
}

// Writes `n` into an integer VARIANT of any width; a width too narrow for
// it keeps the low bits.
void SetInteger(VARIANT* value, unsigned n) {
  switch (value->vt) {
    case VT_I1:
    case VT_UI1:
      value->bVal = static_cast<BYTE>(n);
      break;
    case VT_I2:
    case VT_UI2:
      value->iVal = static_cast<SHORT>(n);
      break;
    case VT_I8:
    case VT_UI8:
      value->llVal = n;
      break;
    default:
      value->lVal = static_cast<LONG>(n);
      break;
  }
}

}  // namespace

std::string Redactor::Placeholder(Kind kind, const std::string& value) {
  if (kind == Kind::kIp4 && value.find(':') != std::string::npos)
    kind = Kind::kIp6;
  auto key = std::make_pair(kind, value);
  auto found = given_.find(key);
  if (found != given_.end()) return found->second;
  unsigned n = ++counts_[kind];
  std::string text;
  switch (kind) {
    case Kind::kText:
      text = Format("REDACTED-%u", n);
      break;
    case Kind::kMac:
      text = Format("02:00:00:%02X", n >> 16) +
             Format(":%02X", (n >> 8) & 0xFF) + Format(":%02X", n & 0xFF);
      break;
    case Kind::kUuid:
      text = Format("00000000-0000-0000-0000-%012X", n);
      if (!value.empty() && value[0] == '{') text = "{" + text + "}";
      break;
    case Kind::kIp4: {
      // The three IPv4 ranges kept for documentation, one after the other.
      static const char* const kRanges[] = {"192.0.2.%u", "198.51.100.%u",
                                            "203.0.113.%u"};
      unsigned range = (n - 1) / 254 % 3;
      text = Format(kRanges[range], (n - 1) % 254 + 1);
      break;
    }
    case Kind::kIp6:
      text = Format("2001:db8::%x", n);
      break;
    case Kind::kNumber:
      text = Format("%u", n);
      break;
  }
  given_.emplace(std::move(key), text);
  return text;
}

std::string Redactor::MachineName(const std::string& name) {
  return name.empty() ? name : Placeholder(Kind::kText, name);
}

HRESULT Redactor::Apply(const std::string& cls, const std::string& property,
                        CIMTYPE type, VARIANT* value) {
  const Rule* rule = FindRule(cls, property);
  if (!rule) return S_OK;
  CIMTYPE base = type & ~CIM_FLAG_ARRAY;
  const CimTypeInfo* info = FindCimType(base);
  bool integer = info && IsCimInteger(*info);
  if (!integer && base != CIM_STRING) return S_OK;
  // One element at a time: a scalar is an array of one.
  auto replace = [&](VARIANT* element) -> HRESULT {
    if (element->vt == VT_BSTR) {
      UINT length = element->bstrVal ? SysStringLen(element->bstrVal) : 0;
      if (length == 0) return S_OK;
      std::string text = WideToUtf8(element->bstrVal, length);
      // Placeholders are ASCII: any code page carries them.
      BSTR placeholder = AnsiToBstr(integer ? Placeholder(Kind::kNumber, text)
                                            : Placeholder(rule->kind, text));
      if (!placeholder) return WBEM_E_OUT_OF_MEMORY;
      SysFreeString(element->bstrVal);
      element->bstrVal = placeholder;
      return S_OK;
    }
    std::string text;
    if (!integer || AppendScalar(text, *element, base) != S_OK) return S_OK;
    std::string placeholder = Placeholder(Kind::kNumber, text);
    unsigned n = 0;
    std::from_chars(placeholder.data(), placeholder.data() + placeholder.size(),
                    n);
    SetInteger(element, n);
    return S_OK;
  };
  if (!(value->vt & VT_ARRAY)) return replace(value);
  SAFEARRAY* array = value->parray;
  if (!array || array->cDims != 1) return S_OK;
  VARTYPE vt = static_cast<VARTYPE>(value->vt & ~VT_ARRAY);
  for (ULONG k = 0; k < array->rgsabound[0].cElements; ++k) {
    VARIANT element;
    if (!BorrowElement(array, vt, k, &element)) return S_OK;
    HRESULT hr = replace(&element);
    // Every member of the VARIANT's union starts at the same address: the
    // element goes back to its slot as BorrowElement took it out.
    std::memcpy(static_cast<char*>(array->pvData) +
                    static_cast<size_t>(k) * array->cbElements,
                &element.llVal, array->cbElements);
    if (hr != S_OK) return hr;
  }
  return S_OK;
}
