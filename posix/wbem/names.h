// Names in the stand-in WMI service: the characters that MOF and WQL allow
// in names and between tokens, name comparison, which ignores ASCII case
// for class, property, keyword, qualifier and namespace names as WMI does,
// and namespace paths. Never compiled on Windows.
#pragma once

#include <string>
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

// ASCII lower case, the form names are kept in for lookups.
inline std::string LowerName(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = AsciiLower(c);
  return out;
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

// A namespace path resolved against the current namespace, as the MOF
// compiler resolves #pragma namespace: "\\server\a\b", "\a\b" and a path
// whose first part is "root" are absolute, anything else is below
// `current`. '/' stands for '\'. Sets `out` to the parts joined by '\', as
// written; false for an empty part, a server without a path or an empty
// path.
inline bool ResolveNamespace(std::string_view path, std::string_view current,
                             std::string* out) {
  std::string p(path);
  for (char& c : p)
    if (c == '/') c = '\\';
  std::string_view rest = p;
  std::string joined;
  if (rest.substr(0, 2) == "\\\\") {
    size_t end = rest.find('\\', 2);
    if (end == std::string_view::npos || end == 2) return false;
    rest.remove_prefix(end + 1);
  } else if (!rest.empty() && rest[0] == '\\') {
    rest.remove_prefix(1);
  } else if (!(rest.size() >= 4 && SameName(rest.substr(0, 4), "root") &&
               (rest.size() == 4 || rest[4] == '\\'))) {
    if (current.empty()) return false;
    joined = std::string(current) + "\\";
  }
  if (rest.empty()) return false;
  for (size_t start = 0;;) {
    size_t end = rest.find('\\', start);
    std::string_view part = rest.substr(start, end - start);
    if (part.empty()) return false;
    if (end == std::string_view::npos) break;
    start = end + 1;
  }
  *out = joined + std::string(rest);
  return true;
}

}  // namespace posix_wmi
