// The result list and Model.txt. The new results go to a file of their own
// beside Model.txt and replace it only when completely on disk, so a reader
// never sees half a file and a failed run keeps the previous results, their
// attributes included. Model.txt is written in place only where nothing
// else can hold the results: a folder that takes no new file, or a Model.txt
// that another program keeps open in a way that forbids replacing it but
// allows writing.
#include "output/results.h"

#include <string_view>

#include "output/message.h"
#include "output/replace.h"
#include "output/textfile.h"

std::vector<std::string> g_resultLines;

namespace {

// Rewrites Model.txt itself, sharing reading and writing with whoever holds
// it open, as the C runtime does. Not atomic: used only where nothing else
// can hold the results.
bool WriteInPlace(const std::string& path, const std::string& bytes) {
  // Each handle is checked to be the file's only name before it changes
  // anything.
  HANDLE target = OpenForAttributes(path);
  Protection protection;
  if (target != INVALID_HANDLE_VALUE) {
    protection = LiftProtection(target);
    CloseHandle(target);
  }
  HANDLE file =
      target == INVALID_HANDLE_VALUE
          ? INVALID_HANDLE_VALUE
          : OpenOnlyName(path, GENERIC_WRITE,
                         FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING);
  if (file == INVALID_HANDLE_VALUE) {
    RestoreProtection(path, protection);
    ShowMessage("Can not open " + path);
    return false;
  }
  bool written =
      SetEndOfFile(file) && WriteBytes(file, bytes) && FlushFileBuffers(file);
  written = CloseHandle(file) && written;
  if (!written) {
    RestoreProtection(path, protection);
    ShowMessage("Can not write " + path);
    return false;
  }
  return true;
}

}  // namespace

bool WriteResults() {
  std::string bytes;
  for (const std::string& line : g_resultLines) {
    AppendWithCrLf(bytes, line);
    bytes += "\r\n";
  }
  g_resultLines.clear();

  std::string directory;
  if (!ExpandWindowsDirectory(directory)) {
    ShowMessage("Can not expand environment string");
    return false;
  }
  std::string path = directory + "\\Model.txt";
  DWORD error = ERROR_SUCCESS;
  switch (ReplaceWhole(directory, "Model", path, bytes, &error)) {
    case ReplaceOutcome::kReplaced:
      return true;
    case ReplaceOutcome::kInPlace:
      return WriteInPlace(path, bytes);
    case ReplaceOutcome::kCannotOpen:
      // A Model.txt that cannot be replaced is one that cannot be opened
      // for writing.
      ShowMessage("Can not open " + path);
      return false;
    case ReplaceOutcome::kCannotWrite:
      ShowMessage("Can not write " + path);
      return false;
  }
  return false;
}
