// The stand-in Win32 file functions that work on handles (opening, writing,
// flushing, closing, searching a folder) and the helpers all file functions
// share. They never open through a link in a path's last component and never
// block on a FIFO, and they keep Windows' delete-sharing rule with
// byte-range locks: see win32.h.
#include "posix/win32_file.h"

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

namespace posix_file {
namespace {

// Windows tells a missing file from a missing folder on the way to it.
DWORD MissingError(const std::string& path) {
  struct stat st;
  return ::stat(ParentOf(path).c_str(), &st) == 0 && S_ISDIR(st.st_mode)
             ? ERROR_FILE_NOT_FOUND
             : ERROR_PATH_NOT_FOUND;
}

bool SetLock(int fd, off_t byte, short type) {
  struct flock lock = {};
  lock.l_type = type;
  lock.l_whence = SEEK_SET;
  lock.l_start = byte;
  lock.l_len = 1;
  return ::fcntl(fd, F_OFD_SETLK, &lock) == 0;
}

// Whether another open file description holds a lock on `byte`.
bool LockedElsewhere(int fd, off_t byte) {
  struct flock lock = {};
  lock.l_type = F_WRLCK;
  lock.l_whence = SEEK_SET;
  lock.l_start = byte;
  lock.l_len = 1;
  return ::fcntl(fd, F_OFD_GETLK, &lock) == 0 && lock.l_type != F_UNLCK;
}

}  // namespace

mode_t ModeWithAttributes(mode_t mode, DWORD attributes) {
  mode &= 07777;
  return (attributes & FILE_ATTRIBUTE_READONLY)
             ? (mode & ~static_cast<mode_t>(0222))
             : (mode | S_IWUSR);
}

bool IsReadOnly(const struct stat& st) {
  return S_ISREG(st.st_mode) && !(st.st_mode & S_IWUSR);
}

DWORD AttributesOf(const struct stat& st) {
  if (S_ISLNK(st.st_mode)) return FILE_ATTRIBUTE_REPARSE_POINT;
  if (S_ISDIR(st.st_mode)) return FILE_ATTRIBUTE_DIRECTORY;
  return IsReadOnly(st) ? FILE_ATTRIBUTE_READONLY : FILE_ATTRIBUTE_NORMAL;
}

std::string ParentOf(const std::string& path) {
  size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? "."
         : slash == 0               ? "/"
                                    : path.substr(0, slash);
}

DWORD ErrorFromErrno(int error, const std::string& path) {
  switch (error) {
    case ENOENT:
      return MissingError(path);
    case ENOTDIR:
      return ERROR_PATH_NOT_FOUND;
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR:
    case ETXTBSY:
    case ENXIO:  // a FIFO without a reader, a device without its unit
      return ERROR_ACCESS_DENIED;
    case ELOOP:  // a link where none is followed, or a loop of links
      return ERROR_CANT_ACCESS_FILE;
    case EWOULDBLOCK:
      return ERROR_SHARING_VIOLATION;
    case EEXIST:
      return ERROR_FILE_EXISTS;
    case ENOTEMPTY:
      return ERROR_DIR_NOT_EMPTY;
    case ENOSPC:
    case EDQUOT:
      return ERROR_DISK_FULL;
    case EFBIG:
      return ERROR_FILE_TOO_LARGE;
    case ENAMETOOLONG:
      return ERROR_FILENAME_EXCED_RANGE;
    case EXDEV:
      return ERROR_NOT_SAME_DEVICE;
    case EBADF:
      return ERROR_INVALID_HANDLE;
    case EMFILE:
    case ENFILE:
      return ERROR_TOO_MANY_OPEN_FILES;
    case ENOMEM:
      return ERROR_NOT_ENOUGH_MEMORY;
    case EINVAL:
      return ERROR_INVALID_PARAMETER;
    default:
      return ERROR_GEN_FAILURE;
  }
}

// The ANSI file functions of a program that is not long-path aware refuse
// MAX_PATH characters or more.
bool PosixPath(LPCSTR path, std::string* out) {
  if (!path) return Fail(ERROR_INVALID_PARAMETER, false);
  size_t length = std::strlen(path);
  if (length == 0) return Fail(ERROR_PATH_NOT_FOUND, false);
  if (length >= MAX_PATH) return Fail(ERROR_FILENAME_EXCED_RANGE, false);
  out->assign(path, length);
  for (char& c : *out)
    if (c == '\\') c = '/';
  return true;
}

int OpenRetrying(const std::string& path, int flags, mode_t mode) {
  int fd;
  do {
    fd = ::open(path.c_str(), flags, mode);
  } while (fd < 0 && errno == EINTR);
  return fd;
}

// Either kind of lock gets along with its own kind. Each side takes its byte
// first and then looks for the other's, so of two that meet at least one
// sees the other and gives way.
bool TakeUnlessHeld(int fd, off_t mine, off_t theirs) {
  if (!SetLock(fd, mine, F_RDLCK)) return true;
  if (!LockedElsewhere(fd, theirs)) return true;
  SetLock(fd, mine, F_UNLCK);
  return false;
}

void SyncDirectoryOf(const std::string& path) {
  int fd = ::open(ParentOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  ::fsync(fd);
  ::close(fd);
}
}  // namespace posix_file

using posix_file::AttributesOf;
using posix_file::ErrorFromErrno;
using posix_file::Fail;
using posix_file::FileOf;
using posix_file::IsReadOnly;
using posix_file::kDeleting;
using posix_file::kHeld;
using posix_file::OpenRetrying;
using posix_file::ParentOf;
using posix_file::PosixPath;
using posix_file::SecurityDescriptor;
using posix_file::TakeUnlessHeld;

namespace {

// Open handles: files and searches. A handle is a small multiple of 4, as on
// Windows, so that a stale or made-up handle is recognised rather than used.
struct Search {
  std::vector<WIN32_FIND_DATAA> found;
  size_t next = 0;
};
struct Slot {
  int fd = -1;
  std::unique_ptr<Search> search;
};
std::vector<Slot> g_handles;

HANDLE AddHandle(int fd, std::unique_ptr<Search> search) {
  size_t slot = 0;
  while (slot < g_handles.size() &&
         (g_handles[slot].fd >= 0 || g_handles[slot].search))
    ++slot;
  if (slot == g_handles.size()) g_handles.emplace_back();
  g_handles[slot].fd = fd;
  g_handles[slot].search = std::move(search);
  return reinterpret_cast<HANDLE>(static_cast<intptr_t>((slot + 1) * 4));
}

Slot* SlotOf(HANDLE handle) {
  intptr_t value = reinterpret_cast<intptr_t>(handle);
  if (value <= 0 || value % 4 != 0) return nullptr;
  size_t slot = static_cast<size_t>(value / 4 - 1);
  return slot < g_handles.size() ? &g_handles[slot] : nullptr;
}

// Windows' wildcard match: '*' any run of characters, '?' one; letter case
// ignored. On a mismatch after a '*', that '*' takes one more character.
bool WildcardMatches(const char* mask, const char* name) {
  auto lower = [](char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
  };
  const char* star = nullptr;
  const char* resume = nullptr;
  while (*name) {
    if (*mask == '*') {
      star = mask++;
      resume = name;
    } else if (*mask && (*mask == '?' || lower(*mask) == lower(*name))) {
      ++mask;
      ++name;
    } else if (star) {
      mask = star + 1;
      name = ++resume;
    } else {
      return false;
    }
  }
  while (*mask == '*') ++mask;
  return *mask == '\0';
}
// Gives a new file the owner, group and mode of `sd`. Where the owner
// cannot be given, the file stays the caller's and only the owner may use
// it, so that it is never open to more than `sd` allows.
void Protect(int fd, const SecurityDescriptor& sd) {
  struct stat st;
  mode_t mode = sd.mode & 0777;
  if (::fstat(fd, &st) != 0 ||
      ((st.st_uid != sd.owner || st.st_gid != sd.group) &&
       ::fchown(fd, sd.owner, sd.group) != 0))
    mode &= 0700;
  ::fchmod(fd, mode);
}

// Creates `path` already holding the delete-sharing lock, as Windows makes a
// file and its share mode in one step: the file is made without a name
// (O_TMPFILE), locked, and only then linked in, failing with EEXIST when the
// name is taken. -1 with another errno where the file system or a missing
// /proc does not allow this; the caller then creates the file by name.
int CreateHeld(const std::string& path, int flags, mode_t mode,
               const SecurityDescriptor* sd) {
  if ((flags & O_ACCMODE) == O_RDONLY) {
    errno = EINVAL;
    return -1;
  }
  int fd = OpenRetrying(ParentOf(path),
                        (flags & ~(O_NOFOLLOW | O_NOCTTY)) | O_TMPFILE, mode);
  if (fd < 0) return -1;
  TakeUnlessHeld(fd, kHeld, kDeleting);  // nobody else can see the file yet
  if (sd) Protect(fd, *sd);
  char self[32];
  std::snprintf(self, sizeof self, "/proc/self/fd/%d", fd);
  if (::linkat(AT_FDCWD, self, AT_FDCWD, path.c_str(), AT_SYMLINK_FOLLOW) == 0)
    return fd;
  int error = errno;
  ::close(fd);
  errno = error;
  return -1;
}

}  // namespace

int posix_file::FileOf(HANDLE handle) {
  Slot* slot = SlotOf(handle);
  return slot ? slot->fd : -1;
}

HANDLE CreateFileA(LPCSTR lpFileName, DWORD dwDesiredAccess, DWORD dwShareMode,
                   LPSECURITY_ATTRIBUTES lpSecurityAttributes,
                   DWORD dwCreationDisposition, DWORD dwFlagsAndAttributes,
                   HANDLE /*hTemplateFile*/) {
  std::string path;
  if (!PosixPath(lpFileName, &path)) return INVALID_HANDLE_VALUE;

  bool write = dwDesiredAccess & (GENERIC_WRITE | FILE_WRITE_DATA);
  bool append = !write && (dwDesiredAccess & FILE_APPEND_DATA);
  bool read = dwDesiredAccess & (GENERIC_READ | FILE_READ_DATA);
  bool create = false, mustCreate = false, truncate = false;
  switch (dwCreationDisposition) {
    case CREATE_NEW:
      create = mustCreate = true;
      break;
    case CREATE_ALWAYS:
      create = truncate = true;
      write = write || !append;
      break;
    case OPEN_EXISTING:
      break;
    case OPEN_ALWAYS:
      create = true;
      break;
    case TRUNCATE_EXISTING:
      if (!write) return Fail(ERROR_INVALID_PARAMETER, INVALID_HANDLE_VALUE);
      truncate = true;
      break;
    default:
      return Fail(ERROR_INVALID_PARAMETER, INVALID_HANDLE_VALUE);
  }
  // Never through a link, never blocking on a FIFO; nothing is truncated
  // before the file is known to be a regular one.
  int flags = O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY;
  // Readable where the file allows it, for the lock that delete sharing
  // takes; a write-only handle stays write-only to its caller.
  flags |= (write || append) ? O_RDWR : O_RDONLY;
  if (append) flags |= O_APPEND;
  if (dwFlagsAndAttributes & FILE_FLAG_WRITE_THROUGH) flags |= O_DSYNC;
  // Windows has no signal for a file grown beyond the process's limit: the
  // write fails, with ERROR_FILE_TOO_LARGE.
  static const bool kSizeSignalIgnored = ::signal(SIGXFSZ, SIG_IGN) != SIG_ERR;
  (void)kSizeSignalIgnored;
  // A new file is nobody else's to write, whatever the umask; one given a
  // descriptor is the caller's alone until the descriptor is applied.
  const SecurityDescriptor* sd =
      lpSecurityAttributes ? static_cast<const SecurityDescriptor*>(
                                 lpSecurityAttributes->lpSecurityDescriptor)
                           : nullptr;
  mode_t mode = sd                                                 ? 0600
                : (dwFlagsAndAttributes & FILE_ATTRIBUTE_READONLY) ? 0444
                                                                   : 0644;
  bool holdsDelete = !(dwShareMode & FILE_SHARE_DELETE);

  // Another caller may create, or delete, the name between two steps; each
  // such turn starts over, a bounded number of times.
  for (int turn = 0; turn < 64; ++turn) {
    bool created = false;
    int fd = mustCreate ? -1 : OpenRetrying(path, flags, 0);
    if (fd < 0 && errno == EACCES && (write || append) && !read) {
      flags = (flags & ~O_RDWR) | O_WRONLY;
      fd = mustCreate ? -1 : OpenRetrying(path, flags, 0);
    }
    if (fd < 0 && (mustCreate || (create && errno == ENOENT))) {
      fd = holdsDelete ? CreateHeld(path, flags, mode, sd) : -1;
      // O_EXCL makes the file ours: a name taken meanwhile, by a file or a
      // link, fails instead of being opened.
      if (fd < 0 && errno != EEXIST) {
        fd = OpenRetrying(path, flags | O_CREAT | O_EXCL, mode);
        if (fd >= 0 && sd) Protect(fd, *sd);
      }
      if (fd < 0 && errno == EEXIST && !mustCreate) continue;
      created = fd >= 0;
    }
    if (fd < 0) return Fail(ErrorFromErrno(errno, path), INVALID_HANDLE_VALUE);

    struct stat st;
    DWORD refused = ERROR_SUCCESS;
    if (::fstat(fd, &st) != 0)
      refused = ErrorFromErrno(errno, path);
    else if (!S_ISREG(st.st_mode) ||  // Windows refuses these too
             ((write || append) && !created && IsReadOnly(st)))  // even root
      refused = ERROR_ACCESS_DENIED;
    if (refused == ERROR_SUCCESS && holdsDelete) {
      if (!TakeUnlessHeld(fd, kHeld, kDeleting)) {
        // A delete, rename or replace of this file is under way.
        refused = ERROR_SHARING_VIOLATION;
      } else if (::fstat(fd, &st) == 0 && st.st_nlink == 0) {
        // Deleted between the open and the lock: Windows would not have
        // found it; a file made here is made again.
        ::close(fd);
        if (created) continue;
        return Fail(ERROR_FILE_NOT_FOUND, INVALID_HANDLE_VALUE);
      }
    }
    if (refused == ERROR_SUCCESS && truncate && !created &&
        ::ftruncate(fd, 0) != 0)
      refused = ErrorFromErrno(errno, path);
    if (refused != ERROR_SUCCESS) {
      ::close(fd);
      if (created && refused == ERROR_SHARING_VIOLATION) continue;
      return Fail(refused, INVALID_HANDLE_VALUE);
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    bool reopened = !created && (dwCreationDisposition == CREATE_ALWAYS ||
                                 dwCreationDisposition == OPEN_ALWAYS);
    SetLastError(reopened ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
    return AddHandle(fd, nullptr);
  }
  return Fail(ERROR_SHARING_VIOLATION, INVALID_HANDLE_VALUE);
}

BOOL WriteFile(HANDLE hFile, LPCVOID lpBuffer, DWORD nNumberOfBytesToWrite,
               LPDWORD lpNumberOfBytesWritten, LPOVERLAPPED lpOverlapped) {
  if (lpNumberOfBytesWritten) *lpNumberOfBytesWritten = 0;
  int fd = FileOf(hFile);
  if (fd < 0) return Fail(ERROR_INVALID_HANDLE, FALSE);
  if (lpOverlapped || (!lpBuffer && nNumberOfBytesToWrite))
    return Fail(ERROR_INVALID_PARAMETER, FALSE);
  const char* bytes = static_cast<const char*>(lpBuffer);
  DWORD done = 0;
  while (done < nNumberOfBytesToWrite) {
    ssize_t n = ::write(fd, bytes + done, nNumberOfBytesToWrite - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      // A short write with no error means the disk is full.
      DWORD error = n == 0 ? ERROR_DISK_FULL : ErrorFromErrno(errno, "");
      if (lpNumberOfBytesWritten) *lpNumberOfBytesWritten = done;
      return Fail(error, FALSE);
    }
    done += static_cast<DWORD>(n);
  }
  if (lpNumberOfBytesWritten) *lpNumberOfBytesWritten = done;
  return TRUE;
}

BOOL FlushFileBuffers(HANDLE hFile) {
  int fd = FileOf(hFile);
  if (fd < 0) return Fail(ERROR_INVALID_HANDLE, FALSE);
  if (::fsync(fd) != 0) return Fail(ErrorFromErrno(errno, ""), FALSE);
  return TRUE;
}

BOOL CloseHandle(HANDLE hObject) {
  Slot* slot = SlotOf(hObject);
  if (!slot || slot->fd < 0) return Fail(ERROR_INVALID_HANDLE, FALSE);
  int fd = slot->fd;
  slot->fd = -1;
  // The descriptor, and its locks, are gone even when close reports an
  // error, as on Linux.
  if (::close(fd) != 0 && errno != EINTR)
    return Fail(ErrorFromErrno(errno, ""), FALSE);
  return TRUE;
}
HANDLE FindFirstFileA(LPCSTR lpFileName, LPWIN32_FIND_DATAA lpFindFileData) {
  std::string pattern;
  if (!PosixPath(lpFileName, &pattern)) return INVALID_HANDLE_VALUE;
  if (!lpFindFileData)
    return Fail(ERROR_INVALID_PARAMETER, INVALID_HANDLE_VALUE);
  std::string folder = ParentOf(pattern);
  std::string mask = pattern.substr(pattern.find_last_of('/') + 1);
  DIR* dir = ::opendir(folder.c_str());
  if (!dir) {
    DWORD error = ErrorFromErrno(errno, folder);
    return Fail(error == ERROR_FILE_NOT_FOUND ? ERROR_PATH_NOT_FOUND : error,
                INVALID_HANDLE_VALUE);
  }
  auto search = std::make_unique<Search>();
  while (dirent* entry = ::readdir(dir)) {
    const char* name = entry->d_name;
    if (!std::strcmp(name, ".") || !std::strcmp(name, "..") ||
        std::strlen(name) >= MAX_PATH || !WildcardMatches(mask.c_str(), name))
      continue;
    struct stat st;
    if (::fstatat(::dirfd(dir), name, &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
    WIN32_FIND_DATAA data = {};
    data.dwFileAttributes = AttributesOf(st);
    data.nFileSizeHigh =
        static_cast<DWORD>(static_cast<uint64_t>(st.st_size) >> 32);
    data.nFileSizeLow = static_cast<DWORD>(st.st_size & 0xFFFFFFFF);
    std::strcpy(data.cFileName, name);
    search->found.push_back(data);
  }
  ::closedir(dir);
  if (search->found.empty())
    return Fail(ERROR_FILE_NOT_FOUND, INVALID_HANDLE_VALUE);
  *lpFindFileData = search->found[0];
  search->next = 1;
  SetLastError(ERROR_SUCCESS);
  return AddHandle(-1, std::move(search));
}

BOOL FindNextFileA(HANDLE hFindFile, LPWIN32_FIND_DATAA lpFindFileData) {
  Slot* slot = SlotOf(hFindFile);
  if (!slot || !slot->search) return Fail(ERROR_INVALID_HANDLE, FALSE);
  if (!lpFindFileData) return Fail(ERROR_INVALID_PARAMETER, FALSE);
  Search& search = *slot->search;
  if (search.next >= search.found.size())
    return Fail(ERROR_NO_MORE_FILES, FALSE);
  *lpFindFileData = search.found[search.next++];
  return TRUE;
}

BOOL FindClose(HANDLE hFindFile) {
  Slot* slot = SlotOf(hFindFile);
  if (!slot || !slot->search) return Fail(ERROR_INVALID_HANDLE, FALSE);
  slot->search.reset();
  return TRUE;
}
