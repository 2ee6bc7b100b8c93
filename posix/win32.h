// Stand-in for the Win32 functions the core calls: files and their
// attributes, environment expansion, the executable's path, message boxes.
// Paths accept '\' as a separator. Never compiled on Windows.
//
// Behaviour follows Windows where the core can tell the difference: failures
// return the documented failure value and set GetLastError to a Windows error
// code; a path of MAX_PATH characters or more is refused with
// ERROR_FILENAME_EXCED_RANGE, as the ANSI functions of a program that is not
// long-path aware see it; a read-only file (no owner write permission) cannot
// be opened for writing, replaced or deleted, even by root.
#pragma once

#include <cstdarg>
#include <cstdint>

#include "posix/com.h"

typedef void* HANDLE;
typedef void* HWND;
typedef void* HINSTANCE;
typedef HINSTANCE HMODULE;
typedef void* LPSECURITY_ATTRIBUTES;
typedef void* LPOVERLAPPED;
typedef DWORD* LPDWORD;
typedef const void* LPCVOID;
typedef LONG* PLONG;

constexpr DWORD MAX_PATH = 260;

#define INVALID_HANDLE_VALUE \
  (reinterpret_cast<HANDLE>(static_cast<intptr_t>(-1)))
constexpr DWORD INVALID_FILE_ATTRIBUTES = 0xFFFFFFFF;
constexpr DWORD INVALID_SET_FILE_POINTER = 0xFFFFFFFF;

// More Win32 error codes than the COM layer needs.
constexpr DWORD ERROR_TOO_MANY_OPEN_FILES = 4;
constexpr DWORD ERROR_NOT_SAME_DEVICE = 17;
constexpr DWORD ERROR_GEN_FAILURE = 31;
constexpr DWORD ERROR_NEGATIVE_SEEK = 131;
constexpr DWORD ERROR_DIR_NOT_EMPTY = 145;
constexpr DWORD ERROR_FILE_TOO_LARGE = 223;

// CreateFileA: access, sharing, disposition, attributes and flags.
constexpr DWORD GENERIC_READ = 0x80000000;
constexpr DWORD GENERIC_WRITE = 0x40000000;
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
constexpr DWORD FILE_FLAG_WRITE_THROUGH = 0x80000000;

constexpr DWORD FILE_BEGIN = 0;
constexpr DWORD FILE_CURRENT = 1;
constexpr DWORD FILE_END = 2;

constexpr DWORD MOVEFILE_REPLACE_EXISTING = 0x1;
constexpr DWORD MOVEFILE_COPY_ALLOWED = 0x2;
constexpr DWORD MOVEFILE_WRITE_THROUGH = 0x8;

// Message boxes.
constexpr UINT MB_OK = 0x0;
constexpr UINT MB_ICONEXCLAMATION = 0x30;
constexpr int IDOK = 1;

constexpr int SW_SHOWDEFAULT = 10;

// Files. Sharing modes and security attributes have no POSIX meaning and are
// ignored. A new file is read-only when FILE_ATTRIBUTE_READONLY is given.
// CREATE_ALWAYS and OPEN_ALWAYS on an existing file succeed and set
// ERROR_ALREADY_EXISTS. A directory cannot be opened.
HANDLE CreateFileA(LPCSTR lpFileName, DWORD dwDesiredAccess, DWORD dwShareMode,
                   LPSECURITY_ATTRIBUTES lpSecurityAttributes,
                   DWORD dwCreationDisposition, DWORD dwFlagsAndAttributes,
                   HANDLE hTemplateFile);
// Writes all bytes or fails; *lpNumberOfBytesWritten says how many went out
// before a failure (a full disk gives ERROR_DISK_FULL, a file beyond the
// process's size limit ERROR_FILE_TOO_LARGE). No overlapped I/O.
BOOL WriteFile(HANDLE hFile, LPCVOID lpBuffer, DWORD nNumberOfBytesToWrite,
               LPDWORD lpNumberOfBytesWritten, LPOVERLAPPED lpOverlapped);
DWORD SetFilePointer(HANDLE hFile, LONG lDistanceToMove,
                     PLONG lpDistanceToMoveHigh, DWORD dwMoveMethod);
BOOL FlushFileBuffers(HANDLE hFile);
BOOL CloseHandle(HANDLE hObject);

// Attributes: read-only is the absence of the owner's write permission;
// FILE_ATTRIBUTE_DIRECTORY marks a directory; a file without either reports
// FILE_ATTRIBUTE_NORMAL. Setting attributes without FILE_ATTRIBUTE_READONLY
// makes the file writable again; hidden, system and archive are ignored.
DWORD GetFileAttributesA(LPCSTR lpFileName);
BOOL SetFileAttributesA(LPCSTR lpFileName, DWORD dwFileAttributes);

// Renames within one file system. An existing target is replaced only with
// MOVEFILE_REPLACE_EXISTING (else ERROR_ALREADY_EXISTS) and never when it is
// read-only or a directory (ERROR_ACCESS_DENIED). MOVEFILE_WRITE_THROUGH
// returns only after the directory entry is on disk.
BOOL MoveFileExA(LPCSTR lpExistingFileName, LPCSTR lpNewFileName,
                 DWORD dwFlags);
// A read-only file or a directory is refused with ERROR_ACCESS_DENIED.
BOOL DeleteFileA(LPCSTR lpFileName);

DWORD GetCurrentProcessId();

// Replaces each %NAME% by the value of the environment variable NAME, matched
// case-insensitively (the first match in environment order wins); a reference
// to an unknown variable, an empty %% and an unmatched % stay as they are.
// The variable Windir, when the environment has none in any letter case, is
// the absolute path of the current directory. Returns the size the result
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

// The program's entry point, defined by the core and called by posix/main.cpp.
int WINAPI WinMain(HINSTANCE hInstance, HINSTANCE hPrevInstance,
                   LPSTR lpCmdLine, int nShowCmd);
