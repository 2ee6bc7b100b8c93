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

bool IsHexDigit(char c) {
  return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F');
}
bool IsDigits(std::string_view s) {
  if (s.empty()) return false;
  for (char c : s)
    if (c < '0' || c > '9') return false;
  return true;
}

// Whether `name` is a temporary file of this program: "Model.<16 hex
// digits>.tmp", or "Model.<process id>.<attempt>.tmp" of earlier versions,
// which killed runs left behind too.
bool IsTemporaryName(std::string_view name) {
  std::string_view prefix = "Model.", suffix = ".tmp";
  if (name.size() <= prefix.size() + suffix.size() ||
      name.substr(0, prefix.size()) != prefix ||
      name.substr(name.size() - suffix.size()) != suffix)
    return false;
  std::string_view middle =
      name.substr(prefix.size(), name.size() - prefix.size() - suffix.size());
  if (middle.size() == 16) {
    bool hex = true;
    for (char c : middle) hex = hex && IsHexDigit(c);
    if (hex) return true;
  }
  size_t dot = middle.find('.');
  return dot != std::string_view::npos && IsDigits(middle.substr(0, dot)) &&
         IsDigits(middle.substr(dot + 1));
}

// Removes the temporary files that dead runs left beside Model.txt. A live
// run's file is open without delete sharing, so deleting it fails and it
// stays.
void RemoveDeadTemporaries(const std::string& directory) {
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA((directory + "\\Model.*.tmp").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return;
  do {
    if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
        IsTemporaryName(found.cFileName))
      DeleteFileA((directory + "\\" + found.cFileName).c_str());
  } while (FindNextFileA(search, &found));
  FindClose(search);
}

// Rewrites Model.txt itself, sharing reading and writing with whoever holds
// it open, as the C runtime does. Not atomic: used only where nothing else
// can hold the results.
bool WriteInPlace(const std::string& path, const std::string& bytes) {
  Protection protection = LiftProtection(path);
  HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE,
                            FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            TRUNCATE_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    RestoreProtection(path, protection);
    ShowMessage("Can not open " + path);
    return false;
  }
  bool written = WriteBytes(file, bytes) && FlushFileBuffers(file);
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
  RemoveDeadTemporaries(directory);
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
