// The diagnostic log, Model.log in the Windows directory: failures of the
// COM and WMI machinery, for the latest run only.
#pragma once

#include <string>

// Full path of the log; empty until ResetLog has found the Windows directory.
extern std::string g_logPath;

// Finds the log's path and empties the log. Called once, first in a run.
void ResetLog();

// Appends `message` and one more line break to the log, with CR LF line
// ends, in one write at the end of the file, so that runs logging at the
// same time never tear or overwrite each other's messages. A log that cannot
// be opened, or written, is reported in a message box once per run for each
// of the two causes; a log that has other names (hard links) as well is
// never emptied or written and counts as one that cannot be opened.
void LogMessage(const char* message);

// Appends as LogMessage does but reports nothing: false when the log could
// not be opened or written.
bool AppendToLog(const std::string& message);
