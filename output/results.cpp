// The result list and Model.txt. The new results go to a file of their own
// beside Model.txt and replace it only when completely on disk, so a reader
// never sees half a file and a failed run keeps the previous results.
#include "output/results.h"

#include "output/replace.h"
#include "output/textfile.h"

std::vector<std::string> g_resultLines;

namespace {

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

  DWORD error = 0;
  switch (ReplaceFileContents(directory, "Model", path, bytes, &error)) {
    case ReplaceResult::kReplaced:
      return;
    case ReplaceResult::kNoNewFile:
      WriteInPlace(path, bytes);
      return;
    case ReplaceResult::kNotWritten:
      ShowMessage("Can not write " + path);
      return;
    case ReplaceResult::kNotMoved:
      // A Model.txt that cannot be replaced is one that cannot be opened
      // for writing.
      ShowMessage("Can not open " + path);
      return;
  }
}
