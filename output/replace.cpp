// Whole-file replacement through a temporary file beside the target, shared
// by Model.txt and the capture tool's output. On Linux every call here lands
// in the stand-in's file layer (posix/win32_file.cpp for handles,
// posix/win32_path.cpp for ReplaceFileA and names), which must keep the same
// promises; tests/durability_test.py and tests/security_test.py hold both to
// them, tests/wine/sharing_test.py the real Windows calls.
#include "output/replace.h"

#include <cstdio>

#include "output/textfile.h"

namespace {

// A temporary file's name is drawn at random, so a name already taken is a
// stranger's file, or one planted to make us write somewhere else; it only
// costs another draw, and the draws cannot run out.
constexpr int kNameDraws = 16;
// Another run's clean-up may take this run's temporary file for a dead one
// in the moment between closing it and putting it in place; the contents are
// then written again.
constexpr int kWriteAttempts = 4;
// Rounds of "no target yet" racing "another run made one meanwhile".
constexpr int kPlaceAttempts = 4;

// Attributes that keep a file from being replaced or written.
constexpr DWORD kProtective =
    FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;

// Creates a new file beside the target under a name nobody can foresee. On
// failure the last error tells why.
HANDLE CreateTemporary(const std::string& directory, const std::string& stem,
                       std::string& path) {
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
    char suffix[32];
    std::snprintf(suffix, sizeof suffix, ".%016llX.tmp", bits);
    path = directory;
    path += '\\';
    path += stem;
    path += suffix;
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

// Puts the complete `temporary` in the target's place in one step, keeping
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
    // No target yet, so no permissions to keep.
    if (MoveFileExA(temporary.c_str(), path.c_str(), flags))
      return ERROR_SUCCESS;
    error = GetLastError();
    // Another run has made one meanwhile: replace that.
    if (error != ERROR_ALREADY_EXISTS && error != ERROR_FILE_EXISTS)
      return error;
  }
  return ERROR_ALREADY_EXISTS;
}

// Whether another program holds the target open so that it cannot be
// replaced; one that shares writing still lets it be written in place.
bool HeldOpen(DWORD error) {
  return error == ERROR_SHARING_VIOLATION ||
         error == ERROR_UNABLE_TO_REMOVE_REPLACED;
}

}  // namespace

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

ReplaceOutcome ReplaceWhole(const std::string& directory,
                            const std::string& stem, const std::string& path,
                            const std::string& bytes, DWORD* error) {
  for (int attempt = 0; attempt < kWriteAttempts; ++attempt) {
    std::string temporary;
    HANDLE file = CreateTemporary(directory, stem, temporary);
    // A folder that takes no new file may still let the target be written.
    // A full disk, or a path with no room for the temporary name, keeps the
    // old contents.
    if (file == INVALID_HANDLE_VALUE) {
      *error = GetLastError();
      return *error == ERROR_ACCESS_DENIED ? ReplaceOutcome::kInPlace
                                           : ReplaceOutcome::kCannotOpen;
    }
    bool written = WriteBytes(file, bytes) && FlushFileBuffers(file);
    if (!written) *error = GetLastError();
    if (!CloseHandle(file) && written) {
      *error = GetLastError();
      written = false;
    }
    if (!written) {
      DeleteFileA(temporary.c_str());
      return ReplaceOutcome::kCannotWrite;
    }
    // Lifted only now, so that a run that fails before this point leaves
    // the attributes alone.
    Protection protection = LiftProtection(path);
    *error = PutInPlace(temporary, path);
    if (*error == ERROR_SUCCESS) return ReplaceOutcome::kReplaced;
    RestoreProtection(path, protection);
    if (GetFileAttributesA(temporary.c_str()) == INVALID_FILE_ATTRIBUTES &&
        GetLastError() == ERROR_FILE_NOT_FOUND)
      continue;  // taken by another run's clean-up
    DeleteFileA(temporary.c_str());
    return HeldOpen(*error) ? ReplaceOutcome::kInPlace
                            : ReplaceOutcome::kCannotOpen;
  }
  return ReplaceOutcome::kCannotOpen;
}
