// The result list and Model.txt. The new results go to a file of their own
// beside Model.txt and replace it only when completely on disk, so a reader
// never sees half a file and a failed run keeps the previous results, their
// attributes included. Model.txt is written in place only where nothing
// else can hold the results: a folder that takes no new file, or a Model.txt
// that another program keeps open in a way that forbids replacing it but
// allows writing.
#include "output/results.h"

#include <cstdio>
#include <string_view>

#include "output/textfile.h"

std::vector<std::string> g_resultLines;

namespace {

// A temporary file's name is drawn at random, so a name already taken is a
// stranger's file, or one planted to make us write somewhere else; it only
// costs another draw, and the draws cannot run out.
constexpr int kNameDraws = 16;
// Another run's clean-up may take this run's temporary file for a dead one
// in the moment between closing it and putting it in place; the results are
// then written again.
constexpr int kWriteAttempts = 4;
// Rounds of "no Model.txt yet" racing "another run made one meanwhile".
constexpr int kPlaceAttempts = 4;

// Attributes that keep Model.txt from being replaced or written.
constexpr DWORD kProtective =
    FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;

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

// Creates a new file beside Model.txt under a name nobody can foresee. On
// failure the last error tells why.
HANDLE CreateTemporary(const std::string& directory, std::string& path) {
  for (int draw = 0; draw < kNameDraws; ++draw) {
    GUID guid;
    if (FAILED(CoCreateGuid(&guid))) {
      SetLastError(ERROR_GEN_FAILURE);
      return INVALID_HANDLE_VALUE;
    }
    // The parts of a random GUID that carry no version or variant bits.
    unsigned long long bits =
        (static_cast<unsigned long long>(guid.Data1) << 32) |
        (static_cast<unsigned long long>(guid.Data2) << 16) |
        (static_cast<unsigned long long>(guid.Data4[6]) << 8) | guid.Data4[7];
    char name[32];
    std::snprintf(name, sizeof name, "\\Model.%016llX.tmp", bits);
    path = directory + name;
    // Without delete sharing, so that another run's clean-up leaves the
    // file alone while it is written.
    HANDLE file =
        CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                    CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) return file;
    DWORD error = GetLastError();
    if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS)
      return INVALID_HANDLE_VALUE;
  }
  return INVALID_HANDLE_VALUE;
}

// Model.txt's attributes before this run lifted its protection, to be put
// back when it ends up neither replaced nor rewritten.
struct Protection {
  DWORD attributes = INVALID_FILE_ATTRIBUTES;
  bool lifted = false;
};

// A read-only, hidden or system Model.txt from an earlier run must not stop
// this one; the new file carries none of those attributes.
Protection LiftProtection(const std::string& path) {
  Protection p;
  p.attributes = GetFileAttributesA(path.c_str());
  if (p.attributes != INVALID_FILE_ATTRIBUTES &&
      !(p.attributes & FILE_ATTRIBUTE_DIRECTORY) &&
      (p.attributes & kProtective))
    p.lifted = SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
  return p;
}

void RestoreProtection(const std::string& path, const Protection& p) {
  if (p.lifted) SetFileAttributesA(path.c_str(), p.attributes);
}

// Puts the complete `temporary` in Model.txt's place in one step, keeping
// the replaced file's permissions. ERROR_SUCCESS, or why it failed.
DWORD PutInPlace(const std::string& temporary, const std::string& path) {
  for (int attempt = 0; attempt < kPlaceAttempts; ++attempt) {
    if (ReplaceFileA(path.c_str(), temporary.c_str(), nullptr, 0, nullptr,
                     nullptr))
      return ERROR_SUCCESS;
    DWORD error = GetLastError();
    DWORD flags = MOVEFILE_WRITE_THROUGH;
    if (error == ERROR_UNABLE_TO_MOVE_REPLACEMENT) {
      // The old file is gone already; the new one must follow.
      flags |= MOVEFILE_REPLACE_EXISTING;
    } else if (error != ERROR_FILE_NOT_FOUND ||
               GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES) {
      return error;
    }
    // No Model.txt yet, so no permissions to keep.
    if (MoveFileExA(temporary.c_str(), path.c_str(), flags))
      return ERROR_SUCCESS;
    error = GetLastError();
    // Another run has made one meanwhile: replace that.
    if (error != ERROR_ALREADY_EXISTS && error != ERROR_FILE_EXISTS)
      return error;
  }
  return ERROR_ALREADY_EXISTS;
}

// Whether another program holds Model.txt open so that it cannot be
// replaced; one that shares writing still lets us write it in place.
bool HeldOpen(DWORD error) {
  return error == ERROR_SHARING_VIOLATION ||
         error == ERROR_UNABLE_TO_REMOVE_REPLACED;
}

enum class Outcome { kReplaced, kInPlace, kCannotOpen, kCannotWrite };

Outcome ReplaceWhole(const std::string& directory, const std::string& path,
                     const std::string& bytes) {
  for (int attempt = 0; attempt < kWriteAttempts; ++attempt) {
    std::string temporary;
    HANDLE file = CreateTemporary(directory, temporary);
    // A folder that takes no new file may still let Model.txt be written. A
    // full disk, or a path with no room for the temporary name, keeps the
    // old results.
    if (file == INVALID_HANDLE_VALUE)
      return GetLastError() == ERROR_ACCESS_DENIED ? Outcome::kInPlace
                                                   : Outcome::kCannotOpen;
    bool written = WriteBytes(file, bytes) && FlushFileBuffers(file);
    written = CloseHandle(file) && written;
    if (!written) {
      DeleteFileA(temporary.c_str());
      return Outcome::kCannotWrite;
    }
    // Lifted only now, so that a run that fails before this point leaves
    // the attributes alone.
    Protection protection = LiftProtection(path);
    DWORD error = PutInPlace(temporary, path);
    if (error == ERROR_SUCCESS) return Outcome::kReplaced;
    RestoreProtection(path, protection);
    if (GetFileAttributesA(temporary.c_str()) == INVALID_FILE_ATTRIBUTES &&
        GetLastError() == ERROR_FILE_NOT_FOUND)
      continue;  // taken by another run's clean-up
    DeleteFileA(temporary.c_str());
    return HeldOpen(error) ? Outcome::kInPlace : Outcome::kCannotOpen;
  }
  return Outcome::kCannotOpen;
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
  switch (ReplaceWhole(directory, path, bytes)) {
    case Outcome::kReplaced:
      return true;
    case Outcome::kInPlace:
      return WriteInPlace(path, bytes);
    case Outcome::kCannotOpen:
      // A Model.txt that cannot be replaced is one that cannot be opened
      // for writing.
      ShowMessage("Can not open " + path);
      return false;
    case Outcome::kCannotWrite:
      ShowMessage("Can not write " + path);
      return false;
  }
  return false;
}
