// The query runner: one WQL query for one property of every instance of one
// class, each returned property appended to the result list as one line.
#pragma once

#include <string>

#include "wmi/platform.h"

struct QueryRequest {
  std::string className;
  std::string property;
};

// Runs "SELECT <property> FROM <className>" on `services` and appends
// "name = value" for every non-system property of every object. Returns 1
// when everything was walked, 0 after a failure (logged; lines appended
// before the failure stay).
int RunQuery(IWbemServices* services, const QueryRequest& request);
