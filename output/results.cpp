// The result list and Model.txt. The new results go to a file of their own
// beside Model.txt and replace it only when completely on disk, so a reader
// never sees half a file and a failed run keeps the previous results.
#include "output/results.h"

#include <cstdio>

#include "output/textfile.h"

std::vector<std::string> g_resultLines;

namespace {

// Creates a new, uniquely named file in `directory`. Another run writing at
// the same time, or a file left by one that died, only costs another name.
HANDLE CreateFileBeside(const std::string& directory, std::string& path) {
  for (int attempt = 0; attempt < 16; ++attempt) {
    char name[64];
    std::snprintf(name, sizeof name, "\\Model.%lu.%d.tmp",
                  static_cast<unsigned long>(GetCurrentProcessId()), attempt);
    path = directory + name;
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr,
                              CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) return file;
    DWORD error = GetLastError();
    if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) break;
  }
  return INVALID_HANDLE_VALUE;
}

// Writes Model.txt directly, for a folder where no new file can be made but
// the existing Model.txt can still be written.
void WriteInPlace(const std::string& path, const std::string& bytes) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr,
                            CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    ShowMessage("Can not open " + path);
    return;
  }
  bool written = WriteBytes(file, bytes) && FlushFileBuffers(file);
  written = CloseHandle(file) && written;
  if (!written) ShowMessage("Can not write " + path);
}

}  // namespace

void WriteResults() {
  std::string bytes;
  for (const std::string& line : g_resultLines) {
    AppendWithCrLf(bytes, line);
    bytes += "\r\n";
  }
  g_resultLines.clear();

  std::string directory;
  if (!ExpandWindowsDirectory(directory)) {
    ShowMessage("Can not expand environment string");
    return;
  }
  std::string path = directory + "\\Model.txt";
  // A read-only, hidden or system Model.txt from an earlier run must not
  // stop this one from replacing it.
  if (GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES)
    SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);

  std::string newPath;
  HANDLE file = CreateFileBeside(directory, newPath);
  if (file == INVALID_HANDLE_VALUE) {
    WriteInPlace(path, bytes);
    return;
  }
  bool written = WriteBytes(file, bytes) && FlushFileBuffers(file);
  written = CloseHandle(file) && written;
  if (written &&
      MoveFileExA(newPath.c_str(), path.c_str(),
                  MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
    return;
  DeleteFileA(newPath.c_str());
  // A Model.txt that cannot be replaced is one that cannot be opened for
  // writing.
  ShowMessage((written ? "Can not open " : "Can not write ") + path);
}
