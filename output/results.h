// The result list and the results file, Model.txt in the Windows directory.
#pragma once

#include <string>
#include <vector>

// Lines of the run in order, each "name = value" without a line break.
extern std::vector<std::string> g_resultLines;

// Replaces Model.txt with g_resultLines, each line ending in CR LF, and
// empties the list. Problems are shown in message boxes.
void WriteResults();
