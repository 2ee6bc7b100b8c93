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

HANDLE OpenOnlyName(const std::string& path, DWORD access, DWORD share,
                    DWORD disposition) {
  // Reading attributes is what asking for the number of names needs, and
  // anyone who may open the file may do it.
  HANDLE file =
      CreateFileA(path.c_str(), access | FILE_READ_ATTRIBUTES, share, nullptr,
                  disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return file;
  DWORD opened = GetLastError();
  BY_HANDLE_FILE_INFORMATION info = {};
  bool known = GetFileInformationByHandle(file, &info);
  if (!known || info.nNumberOfLinks > 1) {
    DWORD error = known ? ERROR_ACCESS_DENIED : GetLastError();
    CloseHandle(file);
    SetLastError(error);
    return INVALID_HANDLE_VALUE;
  }
  SetLastError(opened);
  return file;
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
