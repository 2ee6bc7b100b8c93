// Whole-file replacement through a temporary file beside the target, shared
// by Model.txt and the capture tool's output. On Linux every call here lands
// in the stand-in's file layer (posix/win32_file.cpp for handles,
// posix/win32_path.cpp for ReplaceFileA and names), which must keep the same
// promises; tests/durability_test.py and tests/security_test.py hold both to
// them, tests/wine/sharing_test.py the real Windows calls.
#include "output/replace.h"

#include <cstdio>
#include <string_view>

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

constexpr DWORD kShareAll =
    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

bool IsHexDigit(char c) {
  return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F');
}
bool IsDigits(std::string_view s) {
  if (s.empty()) return false;
  for (char c : s)
    if (c < '0' || c > '9') return false;
  return true;
}

// Whether `name` is a temporary file of `stem`: "<stem>.<16 hex
// digits>.tmp", or "<stem>.<process id>.<attempt>.tmp" of earlier versions,
// which killed runs left behind too.
bool IsTemporaryName(std::string_view name, std::string_view stem) {
  std::string_view suffix = ".tmp";
  if (name.size() <= stem.size() + 1 + suffix.size() ||
      name.substr(0, stem.size()) != stem || name[stem.size()] != '.' ||
      name.substr(name.size() - suffix.size()) != suffix)
    return false;
  std::string_view middle = name.substr(
      stem.size() + 1, name.size() - stem.size() - 1 - suffix.size());
  if (middle.size() == 16) {
    bool hex = true;
    for (char c : middle) hex = hex && IsHexDigit(c);
    if (hex) return true;
  }
  size_t dot = middle.find('.');
  return dot != std::string_view::npos && IsDigits(middle.substr(0, dot)) &&
         IsDigits(middle.substr(dot + 1));
}

// A live run's temporary file is open without delete sharing, so deleting
// it fails and it stays.
void RemoveDeadTemporaries(const std::string& directory,
                           const std::string& stem) {
  WIN32_FIND_DATAA found;
  HANDLE search =
      FindFirstFileA((directory + "\\" + stem + ".*.tmp").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return;
  do {
    if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
        IsTemporaryName(found.cFileName, stem))
      DeleteFileA((directory + "\\" + found.cFileName).c_str());
  } while (FindNextFileA(search, &found));
  FindClose(search);
}

// Opens the file to be replaced and reads its permissions (its DACL, which
// any owner may be given). ERROR_SUCCESS, with *target and *sd left empty
// when there is no such file yet, or why it may not be replaced.
DWORD OpenTarget(const std::string& path, HANDLE* target,
                 PSECURITY_DESCRIPTOR* sd) {
  *sd = nullptr;
  *target = OpenForAttributes(path);
  if (*target == INVALID_HANDLE_VALUE) {
    DWORD error = GetLastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND
               ? ERROR_SUCCESS
               : error;
  }
  DWORD error =
      GetSecurityInfo(*target, SE_FILE_OBJECT, DACL_SECURITY_INFORMATION,
                      nullptr, nullptr, nullptr, nullptr, sd);
  if (error != ERROR_SUCCESS) {
    CloseHandle(*target);
    *target = INVALID_HANDLE_VALUE;
    *sd = nullptr;
  }
  return error;
}

// Creates a new file beside the target under a name nobody can foresee,
// with the permissions of `sd` (null: the folder's default). On failure the
// last error tells why.
HANDLE CreateTemporary(const std::string& directory, const std::string& stem,
                       PSECURITY_DESCRIPTOR sd, std::string& path) {
  SECURITY_ATTRIBUTES attributes = {};
  attributes.nLength = sizeof attributes;
  attributes.lpSecurityDescriptor = sd;
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
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ,
                              sd ? &attributes : nullptr, CREATE_NEW,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
      // Where permissions stand for the read-only attribute too (Wine, the
      // stand-in), a read-only target's descriptor makes the new file
      // read-only; it must carry none of the old attributes.
      FILE_BASIC_INFO basic = {};
      basic.FileAttributes = FILE_ATTRIBUTE_NORMAL;
      if (sd)
        SetFileInformationByHandle(file, FileBasicInfo, &basic, sizeof basic);
      return file;
    }
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

void CloseIfOpen(HANDLE file) {
  if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
}

// Whether another program holds the target open so that it cannot be
// replaced; one that shares writing still lets it be written in place.
bool HeldOpen(DWORD error) {
  return error == ERROR_SHARING_VIOLATION ||
         error == ERROR_UNABLE_TO_REMOVE_REPLACED;
}

}  // namespace

HANDLE OpenForAttributes(const std::string& path) {
  return OpenOnlyName(path, READ_CONTROL | FILE_WRITE_ATTRIBUTES, kShareAll,
                      OPEN_EXISTING);
}

Protection LiftProtection(HANDLE file) {
  Protection p;
  BY_HANDLE_FILE_INFORMATION info;
  if (!GetFileInformationByHandle(file, &info)) return p;
  p.attributes = info.dwFileAttributes;
  if (!(p.attributes & FILE_ATTRIBUTE_DIRECTORY) &&
      (p.attributes & kProtective)) {
    FILE_BASIC_INFO basic = {};
    basic.FileAttributes = FILE_ATTRIBUTE_NORMAL;
    p.lifted =
        SetFileInformationByHandle(file, FileBasicInfo, &basic, sizeof basic);
  }
  return p;
}

void RestoreProtection(const std::string& path, const Protection& p) {
  if (!p.lifted) return;
  HANDLE file = OpenForAttributes(path);
  if (file == INVALID_HANDLE_VALUE) return;
  FILE_BASIC_INFO basic = {};
  basic.FileAttributes = p.attributes;
  SetFileInformationByHandle(file, FileBasicInfo, &basic, sizeof basic);
  CloseHandle(file);
}

ReplaceOutcome ReplaceWhole(const std::string& directory,
                            const std::string& stem, const std::string& path,
                            const std::string& bytes, DWORD* error) {
  RemoveDeadTemporaries(directory, stem);
  for (int attempt = 0; attempt < kWriteAttempts; ++attempt) {
    HANDLE target;
    PSECURITY_DESCRIPTOR sd;
    *error = OpenTarget(path, &target, &sd);
    if (*error != ERROR_SUCCESS) return ReplaceOutcome::kCannotOpen;
    std::string temporary;
    HANDLE file = CreateTemporary(directory, stem, sd, temporary);
    if (file == INVALID_HANDLE_VALUE) *error = GetLastError();
    if (sd) LocalFree(sd);
    // A folder that takes no new file may still let the target be written.
    // A full disk, or a path with no room for the temporary name, keeps the
    // old contents.
    if (file == INVALID_HANDLE_VALUE) {
      CloseIfOpen(target);
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
      CloseIfOpen(target);
      DeleteFileA(temporary.c_str());
      return ReplaceOutcome::kCannotWrite;
    }
    // Lifted only now, so that a run that fails before this point leaves
    // the attributes alone; on the handle checked to be the file's only
    // name.
    Protection protection;
    if (target != INVALID_HANDLE_VALUE) protection = LiftProtection(target);
    CloseIfOpen(target);
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
