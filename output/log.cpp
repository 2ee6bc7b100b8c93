// The diagnostic log: emptied at the start of a run, then one message after
// another, each opened, appended and closed on its own so that a crash
// loses nothing already logged. Runs at the same time share the file: each
// message is appended whole, in one write, at the end of the file as it is
// at that moment.
#include "output/log.h"

#include "output/message.h"
#include "output/textfile.h"

std::string g_logPath;

namespace {

// A log that cannot be opened or written usually stays so for the whole
// run; each cause is shown once, not once per message, since every box on
// Windows waits for someone to click it away.
bool g_openReported = false;
bool g_writeReported = false;

void ReportOnce(bool& reported, const std::string& text) {
  if (reported) return;
  reported = true;
  ShowMessage(text);
}

}  // namespace

void ResetLog() {
  g_openReported = g_writeReported = false;
  std::string directory;
  if (!ExpandWindowsDirectory(directory)) {
    ShowMessage("Can not expand environment string");
    return;
  }
  g_logPath = directory + "\\Model.log";
  // Shared for writing, so that a run starting while another one logs does
  // not fail; it does empty the file under that run's earlier messages.
  // Emptied only once the file is known to have no other name.
  HANDLE file = OpenOnlyName(g_logPath, GENERIC_WRITE,
                             FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_ALWAYS);
  bool emptied = file != INVALID_HANDLE_VALUE && SetEndOfFile(file);
  if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
  // Every later message will fail the same way, but only after the run has
  // gone on; say it now, while the cause is plain.
  if (!emptied) ReportOnce(g_openReported, "Can not open " + g_logPath);
}

namespace {

enum class LogFailure { kNone, kOpen, kWrite };

LogFailure Append(const std::string& message) {
  // Append access alone: the system puts every write at the end of the file
  // as one piece, whatever another run writes meanwhile.
  HANDLE file = OpenOnlyName(g_logPath, FILE_APPEND_DATA,
                             FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING);
  if (file == INVALID_HANDLE_VALUE) return LogFailure::kOpen;
  std::string bytes;
  AppendWithCrLf(bytes, message);
  bytes += "\r\n";
  bool written = WriteBytes(file, bytes);
  written = CloseHandle(file) && written;
  return written ? LogFailure::kNone : LogFailure::kWrite;
}

}  // namespace

bool AppendToLog(const std::string& message) {
  return Append(message) == LogFailure::kNone;
}

void LogMessage(const char* message) {
  switch (Append(message ? message : "")) {
    case LogFailure::kNone:
      return;
    case LogFailure::kOpen:
      ReportOnce(g_openReported, "Can not open " + g_logPath);
      return;
    case LogFailure::kWrite:
      ReportOnce(g_writeReported, "Can not write " + g_logPath);
      return;
  }
}
