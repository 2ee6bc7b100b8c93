// Names in the stand-in WMI service: the characters that MOF and WQL allow
// in names and between tokens, and name comparison, which ignores ASCII case
// for class, property, keyword and qualifier names as WMI does. Never
// compiled on Windows.
#pragma once

#include <string_view>

namespace posix_wmi {

inline bool IsNameStart(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_';
}
inline bool IsNameChar(char c) {
  return IsNameStart(c) || (c >= '0' && c <= '9');
}
inline bool IsSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' ||
         c == '\f';
}

inline char AsciiLower(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

inline bool SameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (AsciiLower(a[i]) != AsciiLower(b[i])) return false;
  return true;
}

// Whether a namespace path names the local root\cimv2: "root\cimv2" or
// "\\.\root\cimv2", with '/' allowed for '\' as WMI allows.
inline bool IsRootCimv2(std::string_view path) {
  auto slash = [](char c) { return c == '\\' || c == '/'; };
  if (path.size() > 4 && slash(path[0]) && slash(path[1]) && path[2] == '.' &&
      slash(path[3]))
    path.remove_prefix(4);
  return path.size() == 10 && SameName(path.substr(0, 4), "root") &&
         slash(path[4]) && SameName(path.substr(5), "cimv2");
}

}  // namespace posix_wmi
