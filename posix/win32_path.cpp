// The stand-in Win32 file functions that work on names: attributes, renames,
// replacement and deletion. Each acts on what the name stands for itself,
// never on a link's target, and keeps Windows' delete-sharing rule: see
// win32.h.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <string>
#include <utility>

#include "posix/win32_file.h"

using posix_file::AttributesOf;
using posix_file::ErrorFromErrno;
using posix_file::Fail;
using posix_file::IsReadOnly;
using posix_file::kDeleting;
using posix_file::kHeld;
using posix_file::ModeWithAttributes;
using posix_file::OpenRetrying;
using posix_file::PosixPath;
using posix_file::SyncDirectoryOf;
using posix_file::TakeUnlessHeld;

namespace {

// The object a name stands for itself, never a link's target, held open
// while it is deleted, renamed or replaced so that its type, owner, mode and
// lock are those of that very object. Opening never blocks: O_NONBLOCK
// makes a FIFO open at once.
class Pinned {
 public:
  Pinned() = default;
  Pinned(const Pinned&) = delete;
  Pinned& operator=(const Pinned&) = delete;
  ~Pinned() {
    if (fd_ >= 0) ::close(fd_);
  }

  // False with errno set when there is nothing of that name.
  bool Open(const std::string& path) {
    fd_ = OpenRetrying(
        path, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0);
    // A link, or a file this user may not read: only its own node, which
    // carries no lock.
    if (fd_ < 0 && (errno == ELOOP || errno == EACCES)) {
      fd_ = OpenRetrying(path, O_PATH | O_NOFOLLOW | O_CLOEXEC, 0);
      nodeOnly_ = true;
    }
    if (fd_ < 0) return false;
    if (::fstat(fd_, &st_) != 0) return false;
    return true;
  }

  // Whether no handle holds the file without delete sharing; while the
  // result is true, none can be opened so. Regular files only carry locks.
  bool Claim() {
    if (nodeOnly_ || !S_ISREG(st_.st_mode)) return true;
    return TakeUnlessHeld(fd_, kDeleting, kHeld);
  }

  int fd() const { return fd_; }
  bool nodeOnly() const { return nodeOnly_; }
  const struct stat& st() const { return st_; }

 private:
  int fd_ = -1;
  bool nodeOnly_ = false;
  struct stat st_ = {};
};

}  // namespace

DWORD GetFileAttributesA(LPCSTR lpFileName) {
  std::string path;
  if (!PosixPath(lpFileName, &path)) return INVALID_FILE_ATTRIBUTES;
  struct stat st;
  if (::lstat(path.c_str(), &st) != 0)
    return Fail(ErrorFromErrno(errno, path), INVALID_FILE_ATTRIBUTES);
  return AttributesOf(st);
}

BOOL SetFileAttributesA(LPCSTR lpFileName, DWORD dwFileAttributes) {
  std::string path;
  if (!PosixPath(lpFileName, &path)) return FALSE;
  Pinned file;
  if (!file.Open(path)) return Fail(ErrorFromErrno(errno, path), FALSE);
  // Windows keeps the read-only flag of a folder without meaning; a link's
  // target is never changed through it. Neither has anything to change here.
  if (!S_ISREG(file.st().st_mode)) return TRUE;
  if (file.nodeOnly()) return Fail(ERROR_ACCESS_DENIED, FALSE);
  mode_t mode = ModeWithAttributes(file.st().st_mode, dwFileAttributes);
  if (::fchmod(file.fd(), mode) != 0)
    return Fail(ErrorFromErrno(errno, path), FALSE);
  return TRUE;
}

BOOL MoveFileExA(LPCSTR lpExistingFileName, LPCSTR lpNewFileName,
                 DWORD dwFlags) {
  std::string from, to;
  if (!PosixPath(lpExistingFileName, &from) || !PosixPath(lpNewFileName, &to))
    return FALSE;
  Pinned source, target;
  if (!source.Open(from)) return Fail(ErrorFromErrno(errno, from), FALSE);
  if (!source.Claim()) return Fail(ERROR_SHARING_VIOLATION, FALSE);
  bool replacing = target.Open(to);
  if (!replacing && errno != ENOENT)
    return Fail(ErrorFromErrno(errno, to), FALSE);
  bool replace = dwFlags & MOVEFILE_REPLACE_EXISTING;
  if (replacing) {
    if (!replace) return Fail(ERROR_ALREADY_EXISTS, FALSE);
    if (S_ISDIR(source.st().st_mode) || S_ISDIR(target.st().st_mode) ||
        IsReadOnly(target.st()))
      return Fail(ERROR_ACCESS_DENIED, FALSE);
    if (!target.Claim()) return Fail(ERROR_SHARING_VIOLATION, FALSE);
  }
  // Without leave to replace, a target made meanwhile is not replaced.
  int renamed = replace ? ::rename(from.c_str(), to.c_str())
                        : ::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD,
                                      to.c_str(), RENAME_NOREPLACE);
  if (renamed != 0 && !replace && errno == EINVAL)  // not on this file system
    renamed = ::rename(from.c_str(), to.c_str());
  if (renamed != 0) {
    if (errno == EEXIST) return Fail(ERROR_ALREADY_EXISTS, FALSE);
    return Fail(ErrorFromErrno(errno, to), FALSE);
  }
  if (dwFlags & MOVEFILE_WRITE_THROUGH) SyncDirectoryOf(to);
  return TRUE;
}

BOOL ReplaceFileA(LPCSTR lpReplacedFileName, LPCSTR lpReplacementFileName,
                  LPCSTR lpBackupFileName, DWORD /*dwReplaceFlags*/,
                  LPVOID /*lpExclude*/, LPVOID /*lpReserved*/) {
  std::string replacedPath, replacementPath;
  if (!PosixPath(lpReplacedFileName, &replacedPath) ||
      !PosixPath(lpReplacementFileName, &replacementPath))
    return FALSE;
  if (lpBackupFileName) return Fail(ERROR_INVALID_PARAMETER, FALSE);
  Pinned replaced, replacement;
  for (auto [file, path] : {std::pair{&replaced, &replacedPath},
                            std::pair{&replacement, &replacementPath}}) {
    if (!file->Open(*path)) {
      DWORD error = ErrorFromErrno(errno, *path);
      return Fail(error == ERROR_CANT_ACCESS_FILE ? ERROR_ACCESS_DENIED : error,
                  FALSE);
    }
    // Only a regular file has permissions worth carrying over, and a link's
    // are its target's, which must not be touched.
    if (!S_ISREG(file->st().st_mode) || file->nodeOnly())
      return Fail(ERROR_ACCESS_DENIED, FALSE);
    if (!file->Claim()) return Fail(ERROR_SHARING_VIOLATION, FALSE);
  }
  if (IsReadOnly(replaced.st())) return Fail(ERROR_ACCESS_DENIED, FALSE);
  // A replacement with other names would hand its new owner and mode to
  // whatever those names stand for.
  if (replacement.st().st_nlink > 1) return Fail(ERROR_ACCESS_DENIED, FALSE);

  // The replaced file's owner and permission bits; set-id bits are not
  // permissions of a text file and are left behind.
  const struct stat& old = replaced.st();
  const struct stat& now = replacement.st();
  if ((old.st_uid != now.st_uid || old.st_gid != now.st_gid) &&
      ::fchown(replacement.fd(), old.st_uid, old.st_gid) != 0)
    return Fail(ERROR_ACCESS_DENIED, FALSE);
  if ((old.st_mode & 0777) != (now.st_mode & 07777) &&
      ::fchmod(replacement.fd(), old.st_mode & 0777) != 0)
    return Fail(ErrorFromErrno(errno, replacementPath), FALSE);
  if (::rename(replacementPath.c_str(), replacedPath.c_str()) != 0)
    return Fail(ErrorFromErrno(errno, replacedPath), FALSE);
  SyncDirectoryOf(replacedPath);
  return TRUE;
}

BOOL DeleteFileA(LPCSTR lpFileName) {
  std::string path;
  if (!PosixPath(lpFileName, &path)) return FALSE;
  Pinned file;
  if (!file.Open(path)) return Fail(ErrorFromErrno(errno, path), FALSE);
  if (S_ISDIR(file.st().st_mode) || IsReadOnly(file.st()))
    return Fail(ERROR_ACCESS_DENIED, FALSE);
  if (!file.Claim()) return Fail(ERROR_SHARING_VIOLATION, FALSE);
  if (::unlink(path.c_str()) != 0)
    return Fail(ErrorFromErrno(errno, path), FALSE);
  return TRUE;
}
