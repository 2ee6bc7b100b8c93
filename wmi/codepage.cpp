// Conversions between ANSI-code-page text and wide text through the
// platform's converters.
#include "wmi/codepage.h"

#include <climits>

std::string WideToAnsi(const WCHAR* text) {
  if (!text || !text[0]) return std::string();
  // Measure first, so that no character is cut by a guessed buffer size.
  const int size =
      WideCharToMultiByte(CP_ACP, 0, text, -1, nullptr, 0, nullptr, nullptr);
  if (size <= 1) return std::string();
  std::string result(static_cast<size_t>(size), '\0');
  if (WideCharToMultiByte(CP_ACP, 0, text, -1, result.data(), size, nullptr,
                          nullptr) != size) {
    return std::string();
  }
  result.resize(static_cast<size_t>(size) - 1);  // drop the terminator
  return result;
}

BSTR AnsiToBstr(const std::string& text) {
  // The converters refuse an empty input, but an empty BSTR is a fine result.
  if (text.empty()) return SysAllocString(OLESTR(""));
  if (text.size() > static_cast<size_t>(INT_MAX)) return nullptr;
  const int bytes = static_cast<int>(text.size());
  const int length =
      MultiByteToWideChar(CP_ACP, 0, text.data(), bytes, nullptr, 0);
  if (length <= 0) return nullptr;
  BSTR result = SysAllocStringLen(nullptr, static_cast<UINT>(length));
  if (!result) return nullptr;
  if (MultiByteToWideChar(CP_ACP, 0, text.data(), bytes, result, length) !=
      length) {
    SysFreeString(result);
    return nullptr;
  }
  return result;
}
