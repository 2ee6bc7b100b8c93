// The query plan: the computer's model, then every class;property request of
// the command line, then the results file.
#pragma once

#include "wmi/platform.h"

void RunQueryPlan(IWbemServices* services, const char* commandLine);
