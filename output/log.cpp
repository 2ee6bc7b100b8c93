// The diagnostic log: emptied at the start of a run, then one message after
// another, each opened, appended and closed on its own so that a crash
// loses nothing already logged.
#include "output/log.h"

#include "output/textfile.h"

std::string g_logPath;

void ResetLog() {
  std::string directory;
  if (!ExpandWindowsDirectory(directory)) {
    ShowMessage("Can not expand environment string");
    return;
  }
  g_logPath = directory + "\\Model.log";
  HANDLE file =
      CreateFileA(g_logPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                  CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  // Every later message will fail the same way, but only after the run has
  // gone on; say it now, while the cause is plain.
  if (file == INVALID_HANDLE_VALUE) {
    ShowMessage("Can not open " + g_logPath);
    return;
  }
  CloseHandle(file);
}

void LogMessage(const char* message) {
  HANDLE file =
      CreateFileA(g_logPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    ShowMessage("Can not open " + g_logPath);
    return;
  }
  // After the messages before it: a second failure must not overwrite the
  // first.
  std::string bytes;
  AppendWithCrLf(bytes, message ? message : "");
  bytes += "\r\n";
  LONG high = 0;
  SetLastError(ERROR_SUCCESS);
  bool atEnd =
      SetFilePointer(file, 0, &high, FILE_END) != INVALID_SET_FILE_POINTER ||
      GetLastError() == ERROR_SUCCESS;
  bool written = atEnd && WriteBytes(file, bytes);
  CloseHandle(file);
  if (!written) ShowMessage("Can not write " + g_logPath);
}
