// The stand-in Win32 functions that read or change what an open handle's
// file is: its size, its attributes, its number of names and its
// permissions as a security descriptor. They act on the open file itself,
// never on a name, so a caller can check a file and then change that very
// file.
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <new>

#include "posix/win32_file.h"

using posix_file::AttributesOf;
using posix_file::ErrorFromErrno;
using posix_file::Fail;
using posix_file::FileOf;
using posix_file::SecurityDescriptor;

BOOL SetEndOfFile(HANDLE hFile) {
  int fd = FileOf(hFile);
  if (fd < 0) return Fail(ERROR_INVALID_HANDLE, FALSE);
  off_t at = ::lseek(fd, 0, SEEK_CUR);
  if (at < 0 || ::ftruncate(fd, at) != 0)
    return Fail(ErrorFromErrno(errno, ""), FALSE);
  return TRUE;
}

BOOL GetFileInformationByHandle(
    HANDLE hFile, LPBY_HANDLE_FILE_INFORMATION lpFileInformation) {
  int fd = FileOf(hFile);
  if (fd < 0) return Fail(ERROR_INVALID_HANDLE, FALSE);
  if (!lpFileInformation) return Fail(ERROR_INVALID_PARAMETER, FALSE);
  struct stat st;
  if (::fstat(fd, &st) != 0) return Fail(ErrorFromErrno(errno, ""), FALSE);
  BY_HANDLE_FILE_INFORMATION info = {};
  info.dwFileAttributes = AttributesOf(st);
  info.dwVolumeSerialNumber = static_cast<DWORD>(st.st_dev);
  uint64_t size = static_cast<uint64_t>(st.st_size);
  info.nFileSizeHigh = static_cast<DWORD>(size >> 32);
  info.nFileSizeLow = static_cast<DWORD>(size & 0xFFFFFFFF);
  info.nNumberOfLinks = static_cast<DWORD>(st.st_nlink);
  uint64_t index = static_cast<uint64_t>(st.st_ino);
  info.nFileIndexHigh = static_cast<DWORD>(index >> 32);
  info.nFileIndexLow = static_cast<DWORD>(index & 0xFFFFFFFF);
  *lpFileInformation = info;
  return TRUE;
}

BOOL SetFileInformationByHandle(HANDLE hFile,
                                FILE_INFO_BY_HANDLE_CLASS FileInformationClass,
                                LPVOID lpFileInformation, DWORD dwBufferSize) {
  int fd = FileOf(hFile);
  if (fd < 0) return Fail(ERROR_INVALID_HANDLE, FALSE);
  if (FileInformationClass != FileBasicInfo || !lpFileInformation ||
      dwBufferSize < sizeof(FILE_BASIC_INFO))
    return Fail(ERROR_INVALID_PARAMETER, FALSE);
  DWORD attributes =
      static_cast<const FILE_BASIC_INFO*>(lpFileInformation)->FileAttributes;
  struct stat st;
  if (::fstat(fd, &st) != 0) return Fail(ErrorFromErrno(errno, ""), FALSE);
  if (attributes == 0 || !S_ISREG(st.st_mode)) return TRUE;
  if (::fchmod(fd, posix_file::ModeWithAttributes(st.st_mode, attributes)) != 0)
    return Fail(ErrorFromErrno(errno, ""), FALSE);
  return TRUE;
}

DWORD GetSecurityInfo(HANDLE handle, SE_OBJECT_TYPE ObjectType,
                      SECURITY_INFORMATION /*SecurityInfo*/, PSID* ppsidOwner,
                      PSID* ppsidGroup, PACL* ppDacl, PACL* ppSacl,
                      PSECURITY_DESCRIPTOR* ppSecurityDescriptor) {
  int fd = FileOf(handle);
  if (fd < 0) return ERROR_INVALID_HANDLE;
  if (ObjectType != SE_FILE_OBJECT || ppsidOwner || ppsidGroup || ppDacl ||
      ppSacl || !ppSecurityDescriptor)
    return ERROR_INVALID_PARAMETER;
  struct stat st;
  if (::fstat(fd, &st) != 0) return ErrorFromErrno(errno, "");
  auto* sd = new (std::nothrow)
      SecurityDescriptor{st.st_uid, st.st_gid, st.st_mode & 0777};
  if (!sd) return ERROR_NOT_ENOUGH_MEMORY;
  *ppSecurityDescriptor = sd;
  return ERROR_SUCCESS;
}

HLOCAL LocalFree(HLOCAL hMem) {
  delete static_cast<SecurityDescriptor*>(hMem);
  return nullptr;
}
