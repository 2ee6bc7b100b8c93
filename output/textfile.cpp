// The Windows directory, text-mode line ends and complete writes for the two
// output files.
#include "output/textfile.h"

namespace {
// MAX_PATH plus one, the size every Windows directory lookup here uses.
constexpr DWORD kDirectoryBufferSize = 261;
}  // namespace

bool ExpandWindowsDirectory(std::string& directory) {
  char buffer[kDirectoryBufferSize];
  DWORD needed = ExpandEnvironmentStringsA("%Windir%", buffer, sizeof buffer);
  // A result that did not fit was not stored; a cut path would send the
  // files somewhere else.
  if (needed == 0 || needed > sizeof buffer) return false;
  directory.assign(buffer);
  return true;
}

void AppendWithCrLf(std::string& out, const std::string& text) {
  for (char c : text) {
    if (c == '\n') out += '\r';
    out += c;
  }
}

bool WriteBytes(HANDLE file, const std::string& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    // WriteFile takes a 32-bit count; larger texts go out in pieces.
    size_t left = bytes.size() - done;
    DWORD chunk = left > 0x40000000u ? 0x40000000u : static_cast<DWORD>(left);
    DWORD written = 0;
    if (!WriteFile(file, bytes.data() + done, chunk, &written, nullptr) ||
        written != chunk)
      return false;
    done += written;
  }
  return true;
}
