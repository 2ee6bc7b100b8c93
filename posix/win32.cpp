// The stand-in Win32 file, environment, module and message-box functions,
// built on POSIX calls with Windows' results and error codes.
#include "posix/win32.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

extern char** environ;

namespace {

// Sets the Windows error of a failure and gives the failure's result.
template <typename T>
T Fail(DWORD error, T result) {
  SetLastError(error);
  return result;
}

bool Exists(const std::string& path, struct stat* st) {
  return ::stat(path.c_str(), st) == 0;
}

bool IsReadOnly(const struct stat& st) {
  return S_ISREG(st.st_mode) && !(st.st_mode & S_IWUSR);
}

// The folder holding `path`.
std::string ParentOf(const std::string& path) {
  size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? "."
         : slash == 0               ? "/"
                                    : path.substr(0, slash);
}

// Windows tells a missing file from a missing folder on the way to it.
DWORD MissingError(const std::string& path) {
  struct stat st;
  return Exists(ParentOf(path), &st) && S_ISDIR(st.st_mode)
             ? ERROR_FILE_NOT_FOUND
             : ERROR_PATH_NOT_FOUND;
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
      return ERROR_ACCESS_DENIED;
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

// Turns a Windows path into a POSIX one. The ANSI file functions of a
// program that is not long-path aware refuse MAX_PATH characters or more.
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

// Open files. A handle is a small multiple of 4, as on Windows, so that a
// stale or made-up handle is recognised rather than used.
std::vector<int> g_files;

HANDLE AddFile(int fd) {
  size_t slot = 0;
  while (slot < g_files.size() && g_files[slot] >= 0) ++slot;
  if (slot == g_files.size()) g_files.push_back(-1);
  g_files[slot] = fd;
  return reinterpret_cast<HANDLE>(static_cast<intptr_t>((slot + 1) * 4));
}

int FileOf(HANDLE handle) {
  intptr_t value = reinterpret_cast<intptr_t>(handle);
  if (value <= 0 || value % 4 != 0) return -1;
  size_t slot = static_cast<size_t>(value / 4 - 1);
  return slot < g_files.size() ? g_files[slot] : -1;
}

void SyncDirectoryOf(const std::string& path) {
  int fd = ::open(ParentOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  ::fsync(fd);
  ::close(fd);
}

bool NameMatches(const char* entry, const char* name, size_t length) {
  for (size_t i = 0; i < length; ++i) {
    if (entry[i] == '\0' || entry[i] == '=') return false;
    unsigned char a = static_cast<unsigned char>(entry[i]);
    unsigned char b = static_cast<unsigned char>(name[i]);
    if (a >= 'A' && a <= 'Z') a = static_cast<unsigned char>(a - 'A' + 'a');
    if (b >= 'A' && b <= 'Z') b = static_cast<unsigned char>(b - 'A' + 'a');
    if (a != b) return false;
  }
  return entry[length] == '=';
}

// The value of the variable whose name is `name` (of `length` bytes) in any
// letter case; false when there is none.
bool LookUpVariable(const char* name, size_t length, std::string* value) {
  if (length == 0) return false;
  for (char** entry = environ; entry && *entry; ++entry) {
    if (NameMatches(*entry, name, length)) {
      value->assign(*entry + length + 1);
      return true;
    }
  }
  if (length == 6 && NameMatches("windir=", name, length)) {
    std::vector<char> cwd(256);
    while (!::getcwd(cwd.data(), cwd.size())) {
      if (errno != ERANGE) return false;
      cwd.resize(cwd.size() * 2);
    }
    value->assign(cwd.data());
    return true;
  }
  return false;
}

}  // namespace

HANDLE CreateFileA(LPCSTR lpFileName, DWORD dwDesiredAccess,
                   DWORD /*dwShareMode*/,
                   LPSECURITY_ATTRIBUTES /*lpSecurityAttributes*/,
                   DWORD dwCreationDisposition, DWORD dwFlagsAndAttributes,
                   HANDLE /*hTemplateFile*/) {
  std::string path;
  if (!PosixPath(lpFileName, &path)) return INVALID_HANDLE_VALUE;

  bool write = dwDesiredAccess & GENERIC_WRITE;
  int flags = O_CLOEXEC;
  switch (dwCreationDisposition) {
    case CREATE_NEW:
      flags |= O_CREAT | O_EXCL;
      break;
    case CREATE_ALWAYS:
      flags |= O_CREAT | O_TRUNC;
      write = true;
      break;
    case OPEN_EXISTING:
      break;
    case OPEN_ALWAYS:
      flags |= O_CREAT;
      break;
    case TRUNCATE_EXISTING:
      if (!write) return Fail(ERROR_INVALID_PARAMETER, INVALID_HANDLE_VALUE);
      flags |= O_TRUNC;
      break;
    default:
      return Fail(ERROR_INVALID_PARAMETER, INVALID_HANDLE_VALUE);
  }
  bool read = dwDesiredAccess & GENERIC_READ;
  flags |= write ? (read ? O_RDWR : O_WRONLY) : O_RDONLY;
  if (dwFlagsAndAttributes & FILE_FLAG_WRITE_THROUGH) flags |= O_DSYNC;

  // Windows refuses these even to an administrator; root would not be.
  struct stat st;
  bool existed = Exists(path, &st);
  if (existed) {
    if (S_ISDIR(st.st_mode))
      return Fail(ERROR_ACCESS_DENIED, INVALID_HANDLE_VALUE);
    if (dwCreationDisposition == CREATE_NEW)
      return Fail(ERROR_FILE_EXISTS, INVALID_HANDLE_VALUE);
    if (write && IsReadOnly(st))
      return Fail(ERROR_ACCESS_DENIED, INVALID_HANDLE_VALUE);
  }

  mode_t mode = (dwFlagsAndAttributes & FILE_ATTRIBUTE_READONLY) ? 0444 : 0666;
  int fd;
  do {
    fd = ::open(path.c_str(), flags, mode);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return Fail(ErrorFromErrno(errno, path), INVALID_HANDLE_VALUE);
  bool reopened = existed && (dwCreationDisposition == CREATE_ALWAYS ||
                              dwCreationDisposition == OPEN_ALWAYS);
  SetLastError(reopened ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
  return AddFile(fd);
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

DWORD SetFilePointer(HANDLE hFile, LONG lDistanceToMove,
                     PLONG lpDistanceToMoveHigh, DWORD dwMoveMethod) {
  int fd = FileOf(hFile);
  if (fd < 0) return Fail(ERROR_INVALID_HANDLE, INVALID_SET_FILE_POINTER);
  int whence = dwMoveMethod == FILE_BEGIN     ? SEEK_SET
               : dwMoveMethod == FILE_CURRENT ? SEEK_CUR
               : dwMoveMethod == FILE_END     ? SEEK_END
                                              : -1;
  if (whence < 0)
    return Fail(ERROR_INVALID_PARAMETER, INVALID_SET_FILE_POINTER);
  // Without a high part the distance is a signed 32-bit number.
  int64_t distance = lDistanceToMove;
  if (lpDistanceToMoveHigh)
    distance = static_cast<int64_t>(
        (static_cast<uint64_t>(static_cast<uint32_t>(*lpDistanceToMoveHigh))
         << 32) |
        static_cast<uint32_t>(lDistanceToMove));
  off_t position = ::lseek(fd, static_cast<off_t>(distance), whence);
  if (position < 0) {
    DWORD error =
        errno == EINVAL ? ERROR_NEGATIVE_SEEK : ErrorFromErrno(errno, "");
    return Fail(error, INVALID_SET_FILE_POINTER);
  }
  if (lpDistanceToMoveHigh)
    *lpDistanceToMoveHigh =
        static_cast<LONG>(static_cast<uint64_t>(position) >> 32);
  SetLastError(ERROR_SUCCESS);
  return static_cast<DWORD>(static_cast<uint64_t>(position) & 0xFFFFFFFFu);
}

BOOL FlushFileBuffers(HANDLE hFile) {
  int fd = FileOf(hFile);
  if (fd < 0) return Fail(ERROR_INVALID_HANDLE, FALSE);
  if (::fsync(fd) != 0) return Fail(ErrorFromErrno(errno, ""), FALSE);
  return TRUE;
}

BOOL CloseHandle(HANDLE hObject) {
  int fd = FileOf(hObject);
  if (fd < 0) return Fail(ERROR_INVALID_HANDLE, FALSE);
  g_files[reinterpret_cast<intptr_t>(hObject) / 4 - 1] = -1;
  // The descriptor is gone even when close reports an error, as on Linux.
  if (::close(fd) != 0 && errno != EINTR)
    return Fail(ErrorFromErrno(errno, ""), FALSE);
  return TRUE;
}

DWORD GetFileAttributesA(LPCSTR lpFileName) {
  std::string path;
  if (!PosixPath(lpFileName, &path)) return INVALID_FILE_ATTRIBUTES;
  struct stat st;
  if (!Exists(path, &st))
    return Fail(ErrorFromErrno(errno, path), INVALID_FILE_ATTRIBUTES);
  if (S_ISDIR(st.st_mode)) return FILE_ATTRIBUTE_DIRECTORY;
  return IsReadOnly(st) ? FILE_ATTRIBUTE_READONLY : FILE_ATTRIBUTE_NORMAL;
}

BOOL SetFileAttributesA(LPCSTR lpFileName, DWORD dwFileAttributes) {
  std::string path;
  if (!PosixPath(lpFileName, &path)) return FALSE;
  struct stat st;
  if (!Exists(path, &st)) return Fail(ErrorFromErrno(errno, path), FALSE);
  // Windows keeps the read-only flag of a folder without meaning; so do we.
  if (S_ISDIR(st.st_mode)) return TRUE;
  mode_t mode = st.st_mode & 07777;
  mode = (dwFileAttributes & FILE_ATTRIBUTE_READONLY)
             ? (mode & ~static_cast<mode_t>(0222))
             : (mode | S_IWUSR);
  if (::chmod(path.c_str(), mode) != 0)
    return Fail(ErrorFromErrno(errno, path), FALSE);
  return TRUE;
}

BOOL MoveFileExA(LPCSTR lpExistingFileName, LPCSTR lpNewFileName,
                 DWORD dwFlags) {
  std::string from, to;
  if (!PosixPath(lpExistingFileName, &from) || !PosixPath(lpNewFileName, &to))
    return FALSE;
  struct stat st;
  if (::lstat(from.c_str(), &st) != 0)
    return Fail(ErrorFromErrno(errno, from), FALSE);
  bool fromDirectory = S_ISDIR(st.st_mode);
  if (::lstat(to.c_str(), &st) == 0) {
    if (!(dwFlags & MOVEFILE_REPLACE_EXISTING))
      return Fail(ERROR_ALREADY_EXISTS, FALSE);
    if (fromDirectory || S_ISDIR(st.st_mode) || IsReadOnly(st))
      return Fail(ERROR_ACCESS_DENIED, FALSE);
  }
  if (::rename(from.c_str(), to.c_str()) != 0)
    return Fail(ErrorFromErrno(errno, to), FALSE);
  if (dwFlags & MOVEFILE_WRITE_THROUGH) SyncDirectoryOf(to);
  return TRUE;
}

BOOL DeleteFileA(LPCSTR lpFileName) {
  std::string path;
  if (!PosixPath(lpFileName, &path)) return FALSE;
  struct stat st;
  if (::lstat(path.c_str(), &st) != 0)
    return Fail(ErrorFromErrno(errno, path), FALSE);
  if (S_ISDIR(st.st_mode) || IsReadOnly(st))
    return Fail(ERROR_ACCESS_DENIED, FALSE);
  if (::unlink(path.c_str()) != 0)
    return Fail(ErrorFromErrno(errno, path), FALSE);
  return TRUE;
}

DWORD GetCurrentProcessId() { return static_cast<DWORD>(::getpid()); }

DWORD ExpandEnvironmentStringsA(LPCSTR lpSrc, LPSTR lpDst, DWORD nSize) {
  if (!lpSrc) return Fail(ERROR_INVALID_PARAMETER, 0);
  std::string result;
  const char* p = lpSrc;
  while (*p) {
    if (*p != '%') {
      result += *p++;
      continue;
    }
    const char* close = std::strchr(p + 1, '%');
    if (!close) {  // an unmatched '%' and all after it stay as they are
      result += p;
      break;
    }
    std::string value;
    if (LookUpVariable(p + 1, static_cast<size_t>(close - p - 1), &value))
      result += value;
    else
      result.append(p, close + 1);
    p = close + 1;
  }
  DWORD needed = static_cast<DWORD>(result.size() + 1);
  if (lpDst && needed <= nSize) std::memcpy(lpDst, result.c_str(), needed);
  return needed;
}

DWORD GetModuleFileNameA(HMODULE /*hModule*/, LPSTR lpFilename, DWORD nSize) {
  std::vector<char> path(256);
  ssize_t n;
  while ((n = ::readlink("/proc/self/exe", path.data(), path.size())) >=
         static_cast<ssize_t>(path.size()))
    path.resize(path.size() * 2);
  if (n < 0) return Fail(ErrorFromErrno(errno, ""), 0);
  DWORD length = static_cast<DWORD>(n);
  if (length < nSize) {
    std::memcpy(lpFilename, path.data(), length);
    lpFilename[length] = '\0';
    SetLastError(ERROR_SUCCESS);
    return length;
  }
  if (nSize > 0) {
    std::memcpy(lpFilename, path.data(), nSize - 1);
    lpFilename[nSize - 1] = '\0';
  }
  SetLastError(ERROR_INSUFFICIENT_BUFFER);
  return nSize;
}

int MessageBoxA(HWND /*hWnd*/, LPCSTR lpText, LPCSTR lpCaption,
                UINT /*uType*/) {
  std::string line;
  if (lpCaption) {
    line += lpCaption;
    line += ": ";
  }
  if (lpText) line += lpText;
  line += '\n';
  std::fwrite(line.data(), 1, line.size(), stderr);
  std::fflush(stderr);
  return IDOK;
}
