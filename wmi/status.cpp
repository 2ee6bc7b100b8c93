// WBEM status names: a fixed table of the codes WMI reports, and a hex text
// for every other code.
#include "wmi/status.h"

#include <cstdint>
#include <cstring>
#include <iterator>

namespace {

struct StatusName {
  uint32_t code;
  const char* name;
};

// Compared as 32-bit patterns, so the error rows can be written as the
// unsigned hex numbers everybody looks them up by.
constexpr StatusName kStatusNames[] = {
    {0x00000000, "WBEM_NO_ERROR"},
    {0x00000001, "WBEM_S_FALSE"},
    {0x00040001, "WBEM_S_ALREADY_EXISTS"},
    {0x00040002, "WBEM_S_RESET_TO_DEFAULT"},
    {0x00040003, "WBEM_S_DIFFERENT"},
    {0x00040005, "WBEM_S_NO_MORE_DATA"},
    {0x80041001, "WBEM_E_FAILED"},
    {0x80041002, "WBEM_E_NOT_FOUND"},
    {0x80041003, "WBEM_E_ACCESS_DENIED"},
    {0x80041004, "WBEM_E_PROVIDER_FAILURE"},
    {0x80041005, "WBEM_E_TYPE_MISMATCH"},
    {0x80041006, "WBEM_E_OUT_OF_MEMORY"},
    {0x80041007, "WBEM_E_INVALID_CONTEXT"},
    {0x80041008, "WBEM_E_INVALID_PARAMETER"},
    {0x80041009, "WBEM_E_NOT_AVAILABLE"},
    {0x8004100A, "WBEM_E_CRITICAL_ERROR"},
    {0x8004100B, "WBEM_E_INVALID_STREAM"},
    {0x8004100C, "WBEM_E_NOT_SUPPORTED"},
    {0x8004100D, "WBEM_E_INVALID_SUPERCLASS"},
    {0x8004100E, "WBEM_E_INVALID_NAMESPACE"},
    {0x8004100F, "WBEM_E_INVALID_OBJECT"},
    {0x80041010, "WBEM_E_INVALID_CLASS"},
    {0x80041011, "WBEM_E_PROVIDER_NOT_FOUND"},
    {0x80041012, "WBEM_E_INVALID_PROVIDER_REGISTRATION"},
    {0x80041013, "WBEM_E_PROVIDER_LOAD_FAILURE"},
    {0x80041014, "WBEM_E_INITIALIZATION_FAILURE"},
    {0x80041015, "WBEM_E_TRANSPORT_FAILURE"},
    {0x80041016, "WBEM_E_INVALID_OPERATION"},
    {0x80041017, "WBEM_E_INVALID_QUERY"},
    {0x80041018, "WBEM_E_INVALID_QUERY_TYPE"},
    {0x80041019, "WBEM_E_ALREADY_EXISTS"},
    {0x8004101A, "WBEM_E_OVERRIDE_NOT_ALLOWED"},
    {0x8004101B, "WBEM_E_PROPAGATED_QUALIFIER"},
    {0x8004101C, "WBEM_E_PROPAGATED_PROPERTY"},
    {0x8004101D, "WBEM_E_UNEXPECTED"},
    {0x8004101E, "WBEM_E_ILLEGAL_OPERATION"},
    {0x8004101F, "WBEM_E_CANNOT_BE_KEY"},
    {0x80041020, "WBEM_E_INCOMPLETE_CLASS"},
    {0x80041021, "WBEM_E_INVALID_SYNTAX"},
    {0x80041022, "WBEM_E_NONDECORATED_OBJECT"},
    {0x80041023, "WBEM_E_READ_ONLY"},
    {0x80041024, "WBEM_E_PROVIDER_NOT_CAPABLE"},
    {0x80041025, "WBEM_E_CLASS_HAS_CHILDREN"},
    {0x80041026, "WBEM_E_CLASS_HAS_INSTANCES"},
    {0x80041027, "WBEM_E_QUERY_NOT_IMPLEMENTED"},
    {0x80041028, "WBEM_E_ILLEGAL_NULL"},
    {0x80041029, "WBEM_E_INVALID_QUALIFIER_TYPE"},
    {0x8004102A, "WBEM_E_INVALID_PROPERTY_TYPE"},
    {0x8004102B, "WBEM_E_VALUE_OUT_OF_RANGE"},
    {0x8004102C, "WBEM_E_CANNOT_BE_SINGLETON"},
};
static_assert(std::size(kStatusNames) == 50);

// Shared by every fallback; a caller copies the text before the next one.
char g_fallbackName[24];

}  // namespace

const char* GetWbemStatusName(HRESULT code) {
  const uint32_t pattern = static_cast<uint32_t>(code);
  for (const StatusName& row : kStatusNames) {
    if (row.code == pattern) return row.name;
  }
  char digits[9];
  int count = 0;
  uint32_t rest = pattern;
  do {
    digits[count++] = "0123456789abcdef"[rest & 0xF];
    rest >>= 4;
  } while (rest != 0);
  // The longest text, "0x" and eight digits, fits the buffer with room left,
  // but the bound is kept so that no code can ever run past it.
  size_t used = 0;
  const size_t limit = sizeof(g_fallbackName) - 1;
  g_fallbackName[used++] = '0';
  g_fallbackName[used++] = 'x';
  while (count > 0 && used < limit) g_fallbackName[used++] = digits[--count];
  g_fallbackName[used] = '\0';
  return g_fallbackName;
}
