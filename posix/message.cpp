// The stand-in's FormatMessageA: Windows' own wording for the error codes
// that the stand-in's file and environment functions set, so that a
// program reports a failure in the same words on both builds.
#include <cstring>

#include "posix/win32.h"

namespace {

struct SystemMessage {
  DWORD code;
  const char* text;
};

constexpr SystemMessage kMessages[] = {
    {ERROR_SUCCESS, "The operation completed successfully."},
    {ERROR_FILE_NOT_FOUND, "The system cannot find the file specified."},
    {ERROR_PATH_NOT_FOUND, "The system cannot find the path specified."},
    {ERROR_TOO_MANY_OPEN_FILES, "The system cannot open the file."},
    {ERROR_ACCESS_DENIED, "Access is denied."},
    {ERROR_INVALID_HANDLE, "The handle is invalid."},
    {ERROR_NOT_ENOUGH_MEMORY,
     "Not enough memory resources are available to process this command."},
    {ERROR_NOT_SAME_DEVICE,
     "The system cannot move the file to a different disk drive."},
    {ERROR_WRITE_FAULT, "The system cannot write to the specified device."},
    {ERROR_GEN_FAILURE, "A device attached to the system is not functioning."},
    {ERROR_SHARING_VIOLATION,
     "The process cannot access the file because it is being used by another "
     "process."},
    {ERROR_NO_MORE_FILES, "There are no more files."},
    {ERROR_HANDLE_DISK_FULL, "The disk is full."},
    {ERROR_FILE_EXISTS, "The file exists."},
    {ERROR_INVALID_PARAMETER, "The parameter is incorrect."},
    {ERROR_DISK_FULL, "There is not enough space on the disk."},
    {ERROR_INSUFFICIENT_BUFFER,
     "The data area passed to a system call is too small."},
    {ERROR_NEGATIVE_SEEK,
     "An attempt was made to move the file pointer before the beginning of "
     "the file."},
    {ERROR_DIR_NOT_EMPTY, "The directory is not empty."},
    {ERROR_ALREADY_EXISTS,
     "Cannot create a file when that file already exists."},
    {ERROR_ENVVAR_NOT_FOUND,
     "The system could not find the environment option that was entered."},
    {ERROR_FILENAME_EXCED_RANGE, "The filename or extension is too long."},
    {ERROR_FILE_TOO_LARGE,
     "The file size exceeds the limit allowed and cannot be saved."},
    {ERROR_UNABLE_TO_REMOVE_REPLACED,
     "Unable to remove the file to be replaced."},
    {ERROR_UNABLE_TO_MOVE_REPLACEMENT,
     "Unable to move the replacement file to the file to be replaced. The "
     "file to be replaced has retained its original name."},
    {ERROR_CANT_ACCESS_FILE, "The file cannot be accessed by the system."},
    {ERROR_NO_UNICODE_TRANSLATION,
     "No mapping for the Unicode character exists in the target multi-byte "
     "code page."},
};

}  // namespace

DWORD FormatMessageA(DWORD dwFlags, LPCVOID, DWORD dwMessageId, DWORD,
                     LPSTR lpBuffer, DWORD nSize, va_list*) {
  if ((dwFlags & ~FORMAT_MESSAGE_IGNORE_INSERTS) !=
          FORMAT_MESSAGE_FROM_SYSTEM ||
      !lpBuffer) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  for (const SystemMessage& m : kMessages) {
    if (m.code != dwMessageId) continue;
    size_t length = std::strlen(m.text) + 2;  // and CR LF
    if (length >= nSize) {
      SetLastError(ERROR_INSUFFICIENT_BUFFER);
      return 0;
    }
    std::memcpy(lpBuffer, m.text, length - 2);
    std::memcpy(lpBuffer + length - 2, "\r\n", 3);
    return static_cast<DWORD>(length);
  }
  SetLastError(ERROR_MR_MID_NOT_FOUND);
  return 0;
}
