// Name comparison for the stand-in WMI service: class, property, keyword and
// qualifier names are matched without regard to ASCII case, as WMI does.
// Never compiled on Windows.
#pragma once

#include <string_view>

namespace posix_wmi {

inline char AsciiLower(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

inline bool SameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (AsciiLower(a[i]) != AsciiLower(b[i])) return false;
  return true;
}

}  // namespace posix_wmi
