// Stand-in for the Win32 functions the core calls: files and their
// attributes, environment expansion, the executable's path, message boxes,
// the window station and the event log.
// Paths accept '\' as a separator. Never compiled on Windows.
//
// Behaviour follows Windows where the core can tell the difference: failures
// return the documented failure value and set GetLastError to a Windows error
// code; a path of MAX_PATH characters or more is refused with
// ERROR_FILENAME_EXCED_RANGE, as the ANSI functions of a program that is not
// long-path aware see it; a read-only file (no owner write permission) cannot
// be opened for writing, replaced or deleted, even by root.
//
// The program runs as root in folders other users may write, so the file
// functions never act through a symbolic link in the last component of a
// path: CreateFileA refuses one (ERROR_CANT_ACCESS_FILE), ReplaceFileA
// neither replaces nor is replaced by one (ERROR_ACCESS_DENIED), attributes
// are neither read nor set through one, and MoveFileExA and DeleteFileA move,
// replace or delete the link itself. FIFOs, devices, sockets and folders are
// never opened as files (ERROR_ACCESS_DENIED), and opening them never blocks.
//
// Sharing, as far as Windows' rules matter here: a handle opened without
// FILE_SHARE_DELETE keeps every other caller, in this process or another,
// from deleting, renaming or replacing the file (ERROR_SHARING_VIOLATION)
// until it is closed, and such a handle cannot be opened while a delete,
// rename or replace of the file is under way. Deletes, renames and replaces
// get along with each other, as they share delete on Windows. The stand-in
// keeps the rule with open-file-description locks, so files held open by
// other programs are not protected, nor files this user may not read. The
// other share bits are not enforced.
#pragma once

#include <cstdarg>
#include <cstdint>

#include "posix/com.h"

typedef void* HANDLE;
typedef void* HWND;
typedef void* HINSTANCE;
typedef HINSTANCE HMODULE;
typedef void* LPOVERLAPPED;
typedef DWORD* LPDWORD;
typedef const void* LPCVOID;

constexpr DWORD MAX_PATH = 260;

#define INVALID_HANDLE_VALUE \
  (reinterpret_cast<HANDLE>(static_cast<intptr_t>(-1)))
constexpr DWORD INVALID_FILE_ATTRIBUTES = 0xFFFFFFFF;

// More Win32 error codes than the COM layer needs.
constexpr DWORD ERROR_TOO_MANY_OPEN_FILES = 4;
constexpr DWORD ERROR_NOT_SAME_DEVICE = 17;
constexpr DWORD ERROR_GEN_FAILURE = 31;
constexpr DWORD ERROR_NEGATIVE_SEEK = 131;
constexpr DWORD ERROR_DIR_NOT_EMPTY = 145;
constexpr DWORD ERROR_SHARING_VIOLATION = 32;
constexpr DWORD ERROR_FILE_TOO_LARGE = 223;
constexpr DWORD ERROR_NO_MORE_FILES = 18;
constexpr DWORD ERROR_UNABLE_TO_REMOVE_REPLACED = 1175;
constexpr DWORD ERROR_UNABLE_TO_MOVE_REPLACEMENT = 1176;
constexpr DWORD ERROR_CANT_ACCESS_FILE = 1920;

// CreateFileA: access, sharing, disposition, attributes and flags.
constexpr DWORD GENERIC_READ = 0x80000000;
constexpr DWORD GENERIC_WRITE = 0x40000000;
constexpr DWORD FILE_READ_DATA = 0x1;
constexpr DWORD FILE_WRITE_DATA = 0x2;
constexpr DWORD FILE_APPEND_DATA = 0x4;
constexpr DWORD FILE_READ_ATTRIBUTES = 0x80;
constexpr DWORD FILE_WRITE_ATTRIBUTES = 0x100;
constexpr DWORD READ_CONTROL = 0x20000;
constexpr DWORD FILE_SHARE_READ = 0x1;
constexpr DWORD FILE_SHARE_WRITE = 0x2;
constexpr DWORD FILE_SHARE_DELETE = 0x4;
constexpr DWORD CREATE_NEW = 1;
constexpr DWORD CREATE_ALWAYS = 2;
constexpr DWORD OPEN_EXISTING = 3;
constexpr DWORD OPEN_ALWAYS = 4;
constexpr DWORD TRUNCATE_EXISTING = 5;
constexpr DWORD FILE_ATTRIBUTE_READONLY = 0x1;
constexpr DWORD FILE_ATTRIBUTE_HIDDEN = 0x2;
constexpr DWORD FILE_ATTRIBUTE_SYSTEM = 0x4;
constexpr DWORD FILE_ATTRIBUTE_DIRECTORY = 0x10;
constexpr DWORD FILE_ATTRIBUTE_ARCHIVE = 0x20;
constexpr DWORD FILE_ATTRIBUTE_NORMAL = 0x80;
constexpr DWORD FILE_ATTRIBUTE_REPARSE_POINT = 0x400;
constexpr DWORD FILE_FLAG_WRITE_THROUGH = 0x80000000;

constexpr DWORD MOVEFILE_REPLACE_EXISTING = 0x1;
constexpr DWORD MOVEFILE_COPY_ALLOWED = 0x2;
constexpr DWORD MOVEFILE_WRITE_THROUGH = 0x8;

// Message boxes.
constexpr UINT MB_OK = 0x0;
constexpr UINT MB_ICONEXCLAMATION = 0x30;
constexpr UINT MB_ICONINFORMATION = 0x40;
constexpr int IDOK = 1;

constexpr int SW_SHOWDEFAULT = 10;

// A security descriptor stands for what a file's permission bits say: its
// owner, its group and the mode that refers to them. Only CreateFileA reads
// one, GetSecurityInfo makes one, LocalFree gives it back.
typedef void* PSECURITY_DESCRIPTOR;
typedef void* PSID;
typedef void* PACL;
typedef void* HLOCAL;
typedef DWORD SECURITY_INFORMATION;
struct SECURITY_ATTRIBUTES {
  DWORD nLength;
  LPVOID lpSecurityDescriptor;
  BOOL bInheritHandle;
};
typedef SECURITY_ATTRIBUTES* LPSECURITY_ATTRIBUTES;
enum SE_OBJECT_TYPE { SE_UNKNOWN_OBJECT_TYPE = 0, SE_FILE_OBJECT = 1 };
constexpr SECURITY_INFORMATION OWNER_SECURITY_INFORMATION = 0x1;
constexpr SECURITY_INFORMATION GROUP_SECURITY_INFORMATION = 0x2;
constexpr SECURITY_INFORMATION DACL_SECURITY_INFORMATION = 0x4;

// Files. Sharing is as described above. A new file is created with the
// security descriptor of lpSecurityAttributes, if any, from its first byte
// (an owner that cannot be given keeps the caller's and loses the group's
// and others' rights); else readable by all and writable by its owner, the
// umask taking away more; read-only when FILE_ATTRIBUTE_READONLY is given.
// CREATE_ALWAYS and OPEN_ALWAYS on an existing file succeed and set
// ERROR_ALREADY_EXISTS. FILE_APPEND_DATA without GENERIC_WRITE or
// FILE_WRITE_DATA opens the file for appending: every WriteFile lands at the
// end of the file as one piece, whatever other handles write meanwhile.
HANDLE CreateFileA(LPCSTR lpFileName, DWORD dwDesiredAccess, DWORD dwShareMode,
                   LPSECURITY_ATTRIBUTES lpSecurityAttributes,
                   DWORD dwCreationDisposition, DWORD dwFlagsAndAttributes,
                   HANDLE hTemplateFile);
// Writes all bytes or fails; *lpNumberOfBytesWritten says how many went out
// before a failure (a full disk gives ERROR_DISK_FULL, a file beyond the
// process's size limit ERROR_FILE_TOO_LARGE). No overlapped I/O.
BOOL WriteFile(HANDLE hFile, LPCVOID lpBuffer, DWORD nNumberOfBytesToWrite,
               LPDWORD lpNumberOfBytesWritten, LPOVERLAPPED lpOverlapped);
BOOL FlushFileBuffers(HANDLE hFile);
// Cuts the file at its position, which only WriteFile moves.
BOOL SetEndOfFile(HANDLE hFile);

struct FILETIME {
  DWORD dwLowDateTime;
  DWORD dwHighDateTime;
};

// What a handle's file is. The attributes are those GetFileAttributesA
// reports; the volume and the index are its device and inode; only these,
// the size and the number of links (names) are filled in.
struct BY_HANDLE_FILE_INFORMATION {
  DWORD dwFileAttributes;
  FILETIME ftCreationTime;
  FILETIME ftLastAccessTime;
  FILETIME ftLastWriteTime;
  DWORD dwVolumeSerialNumber;
  DWORD nFileSizeHigh;
  DWORD nFileSizeLow;
  DWORD nNumberOfLinks;
  DWORD nFileIndexHigh;
  DWORD nFileIndexLow;
};
typedef BY_HANDLE_FILE_INFORMATION* LPBY_HANDLE_FILE_INFORMATION;
BOOL GetFileInformationByHandle(HANDLE hFile,
                                LPBY_HANDLE_FILE_INFORMATION lpFileInformation);

// Only FileBasicInfo, and of it only the attributes, set as
// SetFileAttributesA sets them (0 leaves them as they are).
union LARGE_INTEGER {
  struct {
    DWORD LowPart;
    LONG HighPart;
  } u;
  LONGLONG QuadPart;
};
enum FILE_INFO_BY_HANDLE_CLASS { FileBasicInfo = 0 };
struct FILE_BASIC_INFO {
  LARGE_INTEGER CreationTime;
  LARGE_INTEGER LastAccessTime;
  LARGE_INTEGER LastWriteTime;
  LARGE_INTEGER ChangeTime;
  DWORD FileAttributes;
};
BOOL SetFileInformationByHandle(HANDLE hFile,
                                FILE_INFO_BY_HANDLE_CLASS FileInformationClass,
                                LPVOID lpFileInformation, DWORD dwBufferSize);

// The security descriptor of a handle's file (see CreateFileA), whatever
// parts are asked for, in *ppSecurityDescriptor for LocalFree; the other
// out-parameters must be null. ERROR_SUCCESS or the Windows error.
DWORD GetSecurityInfo(HANDLE handle, SE_OBJECT_TYPE ObjectType,
                      SECURITY_INFORMATION SecurityInfo, PSID* ppsidOwner,
                      PSID* ppsidGroup, PACL* ppDacl, PACL* ppSacl,
                      PSECURITY_DESCRIPTOR* ppSecurityDescriptor);
HLOCAL LocalFree(HLOCAL hMem);
// Closes a file handle; a search handle is refused (FindClose closes it).
BOOL CloseHandle(HANDLE hObject);

// Attributes: read-only is the absence of the owner's write permission;
// FILE_ATTRIBUTE_DIRECTORY marks a directory, FILE_ATTRIBUTE_REPARSE_POINT a
// symbolic link (its target is not looked at); any other file reports
// FILE_ATTRIBUTE_NORMAL. Setting attributes without FILE_ATTRIBUTE_READONLY
// makes a regular file writable again; hidden, system and archive are
// ignored, and so are attributes set on a folder or a link.
DWORD GetFileAttributesA(LPCSTR lpFileName);
BOOL SetFileAttributesA(LPCSTR lpFileName, DWORD dwFileAttributes);

// Renames within one file system. An existing target is replaced only with
// MOVEFILE_REPLACE_EXISTING (else ERROR_ALREADY_EXISTS) and never when it is
// read-only or a directory (ERROR_ACCESS_DENIED). MOVEFILE_WRITE_THROUGH
// returns only after the directory entry is on disk.
BOOL MoveFileExA(LPCSTR lpExistingFileName, LPCSTR lpNewFileName,
                 DWORD dwFlags);

// Puts the replacement under the replaced file's name in one step and gives
// it the replaced file's owner and permission bits (what Windows keeps of the
// ACL); the directory entry is on disk when it returns. Both must be regular
// files on one file system: a missing one gives ERROR_FILE_NOT_FOUND, a link,
// a folder, a read-only replaced file or a replacement with more than one
// name ERROR_ACCESS_DENIED, a file held open
// without delete sharing ERROR_SHARING_VIOLATION, an owner that cannot be
// carried over ERROR_ACCESS_DENIED; both files then stay as they were. Backup
// files are not supported (ERROR_INVALID_PARAMETER); flags are ignored.
BOOL ReplaceFileA(LPCSTR lpReplacedFileName, LPCSTR lpReplacementFileName,
                  LPCSTR lpBackupFileName, DWORD dwReplaceFlags,
                  LPVOID lpExclude, LPVOID lpReserved);

// A read-only file or a directory is refused with ERROR_ACCESS_DENIED.
BOOL DeleteFileA(LPCSTR lpFileName);

// Searches: the names in one folder that match the last component of the
// pattern ('*' any run of characters, '?' one character, letter case
// ignored), in no particular order, "." and ".." left out. No match gives
// ERROR_FILE_NOT_FOUND, a missing folder ERROR_PATH_NOT_FOUND; the end of
// the list ERROR_NO_MORE_FILES. Only the attributes, the size and the name
// are filled in.
struct WIN32_FIND_DATAA {
  DWORD dwFileAttributes;
  FILETIME ftCreationTime;
  FILETIME ftLastAccessTime;
  FILETIME ftLastWriteTime;
  DWORD nFileSizeHigh;
  DWORD nFileSizeLow;
  DWORD dwReserved0;
  DWORD dwReserved1;
  CHAR cFileName[MAX_PATH];
  CHAR cAlternateFileName[14];
};
typedef WIN32_FIND_DATAA* LPWIN32_FIND_DATAA;
HANDLE FindFirstFileA(LPCSTR lpFileName, LPWIN32_FIND_DATAA lpFindFileData);
BOOL FindNextFileA(HANDLE hFindFile, LPWIN32_FIND_DATAA lpFindFileData);
BOOL FindClose(HANDLE hFindFile);

// Replaces each %NAME% by the value of the environment variable NAME, matched
// case-insensitively (the first match in environment order wins); a reference
// to an unknown variable, an empty %% and an unmatched % stay as they are.
// A variable set to the empty text counts as unset, as on Windows, where
// setting a variable to nothing removes it. The variable Windir, when the
// environment has none in any letter case, is the absolute path of the
// current directory. Returns the size the result
// needs, its NUL included; the result is stored only when it fits into nSize
// bytes. Returns 0 on failure (a null source).
DWORD ExpandEnvironmentStringsA(LPCSTR lpSrc, LPSTR lpDst, DWORD nSize);

// The absolute path of the running executable (hModule must be null). A path
// that does not fit is cut to nSize - 1 bytes and terminated; the result is
// then nSize with ERROR_INSUFFICIENT_BUFFER. Otherwise the path's length.
DWORD GetModuleFileNameA(HMODULE hModule, LPSTR lpFilename, DWORD nSize);

// The system's text for a Windows error code, as Windows words it, with
// its closing CR LF. Only FORMAT_MESSAGE_FROM_SYSTEM (with or without
// FORMAT_MESSAGE_IGNORE_INSERTS) into the caller's buffer, for the error
// codes the stand-in sets. Returns the characters stored without the NUL;
// 0 with ERROR_MR_MID_NOT_FOUND for an unknown code, ERROR_INSUFFICIENT_BUFFER
// when the text does not fit.
constexpr DWORD FORMAT_MESSAGE_IGNORE_INSERTS = 0x200;
constexpr DWORD FORMAT_MESSAGE_FROM_SYSTEM = 0x1000;
constexpr DWORD ERROR_MR_MID_NOT_FOUND = 317;
DWORD FormatMessageA(DWORD dwFlags, LPCVOID lpSource, DWORD dwMessageId,
                     DWORD dwLanguageId, LPSTR lpBuffer, DWORD nSize,
                     va_list* Arguments);

// One line on standard error: the caption, ": " and the text, or the text
// alone when there is no caption. Does not wait; returns IDOK.
int MessageBoxA(HWND hWnd, LPCSTR lpText, LPCSTR lpCaption, UINT uType);

// The window station, where boxes are seen: standard error. The process's
// station is visible (WSF_VISIBLE) unless standard error is closed or the
// null device, as under cron or a service manager told to drop it, where
// nobody would read a box. GetUserObjectInformationA answers UOI_FLAGS of
// the handle GetProcessWindowStation gives, nothing else
// (ERROR_INVALID_HANDLE, ERROR_INVALID_PARAMETER).
typedef HANDLE HWINSTA;
constexpr int UOI_FLAGS = 1;
constexpr DWORD WSF_VISIBLE = 0x1;
struct USEROBJECTFLAGS {
  BOOL fInherit;
  BOOL fReserved;
  DWORD dwFlags;
};
HWINSTA GetProcessWindowStation();
BOOL GetUserObjectInformationA(HANDLE hObj, int nIndex, PVOID pvInfo,
                               DWORD nLength, LPDWORD lpnLengthNeeded);

// The Application event log is syslog (facility user): each string of a
// report is one message, tagged with the source's name; the server name,
// category, event id, user and raw data are ignored.
constexpr WORD EVENTLOG_ERROR_TYPE = 0x1;
constexpr WORD EVENTLOG_WARNING_TYPE = 0x2;
constexpr WORD EVENTLOG_INFORMATION_TYPE = 0x4;
HANDLE RegisterEventSourceA(LPCSTR lpUNCServerName, LPCSTR lpSourceName);
BOOL ReportEventA(HANDLE hEventLog, WORD wType, WORD wCategory, DWORD dwEventID,
                  PVOID lpUserSid, WORD wNumStrings, DWORD dwDataSize,
                  LPCSTR* lpStrings, LPVOID lpRawData);
BOOL DeregisterEventSource(HANDLE hEventLog);

// The program's entry point, defined by the core and called by posix/main.cpp.
int WINAPI WinMain(HINSTANCE hInstance, HINSTANCE hPrevInstance,
                   LPSTR lpCmdLine, int nShowCmd);
