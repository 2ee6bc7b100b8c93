// The query plan: the computer's model, then every class;property request of
// the command line, then the results file; and the answers to the questions
// a command line can ask instead.
#pragma once

#include "wmi/platform.h"

// True when Model.txt holds this run's results at the end.
bool RunQueryPlan(IWbemServices* services, const char* commandLine);

// True when the command line asks what the program is: a word --help, -h,
// /? (the usage) or --version (the version), wherever it stands, the usage
// when both are asked. The answer is shown as a message box (or logged, see
// ShowMessage) and nothing else of a run happens: no request is run and no
// results file written. No WMI class name begins with '-' or '/', so no
// request is lost.
bool AnswerQuestion(const char* commandLine);
