// What the stand-in's file functions share: Windows error codes for POSIX
// ones, Windows paths, and the locks that keep Windows' delete-sharing rule
// (see win32.h). Only for posix/win32_file.cpp and posix/win32_path.cpp.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <cstdint>
#include <string>

#include "posix/win32.h"

namespace posix_file {

// Sets the Windows error of a failure and gives the failure's result.
template <typename T>
T Fail(DWORD error, T result) {
  SetLastError(error);
  return result;
}

// No owner write permission, which is what read-only means here.
bool IsReadOnly(const struct stat& st);
// The Windows attributes of what lstat or fstat describes.
DWORD AttributesOf(const struct stat& st);
// The folder holding `path`.
std::string ParentOf(const std::string& path);
// The Windows error for an errno of a call on `path` (which tells a missing
// file from a missing folder on the way to it).
DWORD ErrorFromErrno(int error, const std::string& path);
// A Windows path as a POSIX one; false, with the last error set, for a null
// or empty path or one of MAX_PATH characters or more.
bool PosixPath(LPCSTR path, std::string* out);
// open(2), again after an interrupted call.
int OpenRetrying(const std::string& path, int flags, mode_t mode);
// Flushes the directory entry of `path` to disk.
void SyncDirectoryOf(const std::string& path);
// The descriptor of an open file handle; -1 for any other handle.
int FileOf(HANDLE handle);
// `mode` with the permission bits that Windows attributes set: read-only
// takes every write permission away, its absence gives the owner's back.
mode_t ModeWithAttributes(mode_t mode, DWORD attributes);

// What a security descriptor holds here (see win32.h).
struct SecurityDescriptor {
  uid_t owner;
  gid_t group;
  mode_t mode;
};

// Delete sharing, on locks that belong to an open file description and sit
// far beyond any data. A handle opened without delete sharing holds kHeld;
// a delete, rename or replace holds kDeleting.
constexpr off_t kHeld = INT64_MAX - 1;
constexpr off_t kDeleting = INT64_MAX - 2;
// Takes the lock on `mine` unless another open file description holds one on
// `theirs`. True as well when `fd` cannot take locks (not readable).
bool TakeUnlessHeld(int fd, off_t mine, off_t theirs);

}  // namespace posix_file
