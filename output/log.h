// The diagnostic log, Model.log in the Windows directory: failures of the
// COM and WMI machinery, for the latest run only.
#pragma once

#include <string>

// Full path of the log; empty until ResetLog has found the Windows directory.
extern std::string g_logPath;

// Finds the log's path and empties the log. Called once, first in a run.
void ResetLog();

// Appends `message` and one more line break to the log, with CR LF line
// ends. A log that cannot be opened is reported in a message box.
void LogMessage(const char* message);
