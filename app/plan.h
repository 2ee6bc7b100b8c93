// The query plan: the computer's model, then every class;property request of
// the command line, then the results file.
#pragma once

#include "wmi/platform.h"

// True when Model.txt holds this run's results at the end.
bool RunQueryPlan(IWbemServices* services, const char* commandLine);
