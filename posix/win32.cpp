// The stand-in Win32 environment, module, message-box, window-station and
// event-log functions, built on
// POSIX calls with Windows' results and error codes. The file functions are
// in win32_file.cpp.
#include "posix/win32.h"

#include <sys/stat.h>
#include <syslog.h>
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
// letter case; false when there is none or it is empty.
bool LookUpVariable(const char* name, size_t length, std::string* value) {
  if (length == 0) return false;
  for (char** entry = environ; entry && *entry; ++entry) {
    // An empty value is no value: Windows removes a variable set to nothing,
    // and an empty Windir would put the files at the file-system root.
    if (NameMatches(*entry, name, length) && (*entry)[length + 1] != '\0') {
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
  if (n < 0) return Fail(ERROR_GEN_FAILURE, 0);
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

namespace {

// Any fixed address will do: the handle is only compared, never followed.
char g_windowStation;

bool StandardErrorSeen() {
  struct stat error;
  struct stat null;
  if (::fstat(STDERR_FILENO, &error) != 0) return false;
  return !(S_ISCHR(error.st_mode) && ::stat("/dev/null", &null) == 0 &&
           error.st_rdev == null.st_rdev);
}

}  // namespace

HWINSTA GetProcessWindowStation() { return &g_windowStation; }

BOOL GetUserObjectInformationA(HANDLE hObj, int nIndex, PVOID pvInfo,
                               DWORD nLength, LPDWORD lpnLengthNeeded) {
  if (hObj != &g_windowStation) return Fail(ERROR_INVALID_HANDLE, FALSE);
  if (nIndex != UOI_FLAGS) return Fail(ERROR_INVALID_PARAMETER, FALSE);
  if (lpnLengthNeeded) *lpnLengthNeeded = sizeof(USEROBJECTFLAGS);
  if (!pvInfo || nLength < sizeof(USEROBJECTFLAGS))
    return Fail(ERROR_INSUFFICIENT_BUFFER, FALSE);
  USEROBJECTFLAGS flags = {};
  flags.dwFlags = StandardErrorSeen() ? WSF_VISIBLE : 0;
  std::memcpy(pvInfo, &flags, sizeof flags);
  return TRUE;
}

// The handle owns the source's name, which openlog keeps a pointer to.
HANDLE RegisterEventSourceA(LPCSTR /*lpUNCServerName*/, LPCSTR lpSourceName) {
  if (!lpSourceName) return Fail(ERROR_INVALID_PARAMETER, HANDLE{nullptr});
  return new std::string(lpSourceName);
}

BOOL ReportEventA(HANDLE hEventLog, WORD wType, WORD /*wCategory*/,
                  DWORD /*dwEventID*/, PVOID /*lpUserSid*/, WORD wNumStrings,
                  DWORD /*dwDataSize*/, LPCSTR* lpStrings,
                  LPVOID /*lpRawData*/) {
  if (!hEventLog) return Fail(ERROR_INVALID_HANDLE, FALSE);
  int priority = wType == EVENTLOG_ERROR_TYPE     ? LOG_ERR
                 : wType == EVENTLOG_WARNING_TYPE ? LOG_WARNING
                                                  : LOG_INFO;
  ::openlog(static_cast<std::string*>(hEventLog)->c_str(), LOG_PID, LOG_USER);
  for (WORD i = 0; i < wNumStrings; ++i)
    if (lpStrings[i]) ::syslog(priority, "%s", lpStrings[i]);
  ::closelog();
  return TRUE;
}

BOOL DeregisterEventSource(HANDLE hEventLog) {
  if (!hEventLog) return Fail(ERROR_INVALID_HANDLE, FALSE);
  delete static_cast<std::string*>(hEventLog);
  return TRUE;
}
