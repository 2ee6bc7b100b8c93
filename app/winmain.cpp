// The program's entry: empties the log, answers a question about the program
// or brings up COM and the WMI connection, runs the query plan and tears
// everything down again. Exit codes: 0, the run's results are in the results
// file, or the question was answered; 1, a start-up failure, logged
// before the results file is touched; 2, the connection came up but the
// results file could not be written (a message box says why).
#include <cstdio>

#include "app/plan.h"
#include "output/log.h"
#include "wmi/connect.h"

namespace {

constexpr int kResultsNotWritten = 2;

// `format` holds one %X, filled with the 32-bit pattern of `code`.
void LogCode(const char* format, HRESULT code) {
  char message[128];
  std::snprintf(message, sizeof message, format,
                static_cast<unsigned int>(code));
  LogMessage(message);
}

void LogStartUpFailure(const ConnectFailure& failure) {
  switch (failure.step) {
    case ConnectStep::kComLibrary:
      LogMessage("Failed to initialize COM library\n");
      return;
    case ConnectStep::kSecurity:
      LogCode("Failed to initialize security. Error code = %X\n", failure.code);
      return;
    case ConnectStep::kResourceName:
      LogMessage("Failed to AllocSysString().\n");
      return;
    case ConnectStep::kLocator:
      LogCode("Failed to create IWbemLocator object. Error code = %X\n",
              failure.code);
      return;
    case ConnectStep::kServer:
      LogCode("Failed to connect. Error code = %X\n", failure.code);
      return;
  }
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR lpCmdLine, int) {
  ResetLog();
  // After ResetLog: without a desktop the answer goes to the log.
  if (AnswerQuestion(lpCmdLine)) return 0;

  // Given back when WinMain returns, after the log line of a failure.
  WmiConnection connection;
  ConnectFailure failure;
  if (!connection.Open(&failure)) {
    LogStartUpFailure(failure);
    return 1;
  }

  bool written = RunQueryPlan(connection.services(), lpCmdLine);
  return written ? 0 : kResultsNotWritten;
}
