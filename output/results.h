// The result list and the results file, Model.txt in the Windows directory.
#pragma once

#include <string>
#include <vector>

// Lines of the run in order, each "name = value" without a line break.
extern std::vector<std::string> g_resultLines;

// Replaces Model.txt with g_resultLines, each line ending in CR LF, and
// empties the list. True when Model.txt now holds exactly these lines; false
// when it could not be written, which a message box says (Model.txt is then
// the previous results with their attributes, except where it had to be
// written in place and that failed part way). A Model.txt that has other
// names (hard links) as well is never changed: it cannot be opened.
// Temporary files that dead runs left beside Model.txt are removed on the
// way.
bool WriteResults();
