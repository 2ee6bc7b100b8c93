// Fuzzes the capture writer through a round trip: a MOF text that the
// reader takes is served by the stand-in WMI service and captured, and the
// capture is served and captured again. The reader must take the capture,
// and the second capture must be the first, byte for byte.
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <string>
#include <string_view>
#include <vector>

#include "capture/capture.h"
#include "fuzz/reader.h"
#include "posix/wbem/mof.h"
#include "wmi/connect.h"

namespace {

bool IsNameChar(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
         (c >= '0' && c <= '9') || c == '_';
}

// The names after each "class ": the classes to capture.
std::vector<std::string> ClassNames(std::string_view text) {
  std::vector<std::string> names;
  for (size_t at = text.find("class "); at != std::string_view::npos;
       at = text.find("class ", at + 1)) {
    size_t end = at + 6;
    while (end < text.size() && IsNameChar(text[end])) ++end;
    if (end > at + 6) names.emplace_back(text.substr(at + 6, end - at - 6));
  }
  return names;
}

// The capture of `names` from a repository of `text`; false when the
// service cannot start on it.
bool Capture(const std::string& text, const std::vector<std::string>& names,
             std::string& out) {
  static const std::string path =
      "/tmp/capture_roundtrip_fuzz." + std::to_string(getpid()) + ".mof";
  std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
  setenv("MODEL_WMI_REPOSITORY", path.c_str(), 1);
  WmiConnection connection;
  ConnectFailure failure;
  if (!connection.Open(&failure)) return false;
  MofCapture capture(connection.services());
  for (const std::string& name : names) capture.AddClass(name);
  out = "#pragma namespace(\"\\\\\\\\.\\\\root\\\\cimv2\")\n" + capture.Text();
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);
  posix_wmi::MofRepository repository;
  std::string error;
  if (!posix_wmi::ParseMof(input, "fuzz.mof", repository, error)) return 0;
  std::vector<std::string> names = ClassNames(input);
  std::string first, second;
  if (!Capture(input, names, first)) return 0;
  FUZZ_CHECK(posix_wmi::ParseMof(first, "first.mof", repository, error));
  FUZZ_CHECK(Capture(first, names, second));
  FUZZ_CHECK(second == first);
  return 0;
}
