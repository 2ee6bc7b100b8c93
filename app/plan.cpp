// The query plan: the built-in model request, each command-line request in
// order, then the results file.
#include "app/plan.h"

#include <vector>

#include "output/message.h"
#include "output/results.h"
#include "text/tokenizer.h"
#include "wmi/query.h"

namespace {

// The full path of this program, for the caption of its own message boxes.
std::string ExecutablePath() {
  std::vector<char> buffer(MAX_PATH);
  for (;;) {
    DWORD length = GetModuleFileNameA(nullptr, buffer.data(),
                                      static_cast<DWORD>(buffer.size()));
    if (length == 0) return std::string();
    if (length < buffer.size()) return std::string(buffer.data(), length);
    buffer.resize(buffer.size() * 2);
  }
}

// A message box wraps its text itself and shows it in a proportional font,
// so paragraphs are single lines and nothing is lined up in columns.
const char kUsage[] =
    "Usage: Model.exe [REQUEST...]\n"
    "       Model.exe --help | -h | /?\n"
    "       Model.exe --version\n"
    "\n"
    "Records this computer's model, and the WMI facts that each REQUEST "
    "names, in Model.txt in the Windows directory.\n"
    "\n"
    "Requests, separated by spaces:\n"
    "CLASS;PROPERTY - one property of every instance: "
    "Win32_BIOS;SerialNumber\n"
    "CLASS;A,B - several properties\n"
    "CLASS;* - every property\n"
    "\n"
    "Model.txt: one line per property, NAME = VALUE, replaced whole at the "
    "end of a run or left as it was.\n"
    "Model.log: emptied when a run starts; why WMI or a request failed. "
    "Where nobody can see a message box, as under a service, a start-up "
    "script or a scheduled task, its message goes here instead.\n"
    "\n"
    "Exit codes: 0, Model.txt holds this run's results; 1, COM or WMI did "
    "not start (see Model.log); 2, Model.txt could not be written.";

const char kVersion[] = "Model " MODEL_VERSION;

}  // namespace

bool AnswerQuestion(const char* commandLine) {
  bool help = false;
  bool version = false;
  CTokenizer words(commandLine ? commandLine : "", " ");
  std::string word;
  while (words.Next(word)) {
    help = help || word == "--help" || word == "-h" || word == "/?";
    version = version || word == "--version";
  }
  if (!help && !version) return false;
  ShowMessage(help ? kUsage : kVersion, ExecutablePath().c_str(),
              MB_OK | MB_ICONINFORMATION);  // cppcheck-suppress badBitmaskCheck
  return true;
}

bool RunQueryPlan(IWbemServices* services, const char* commandLine) {
  RunQuery(services, QueryRequest{"Win32_ComputerSystem", "Model"});

  CTokenizer requests(commandLine ? commandLine : "", " ");
  std::string token;
  while (requests.Next(token)) {
    CTokenizer parts(token, ";");
    QueryRequest request;
    parts.Next(request.className);
    parts.Next(request.property);
    if (!request.property.empty()) {
      RunQuery(services, request);
      continue;
    }
    std::string text = request.className + " - " + request.property;
    // MB_OK is 0; it is named for the reader (cppcheck's badBitmaskCheck).
    ShowMessage(
        text, ExecutablePath().c_str(),
        MB_OK | MB_ICONEXCLAMATION);  // cppcheck-suppress badBitmaskCheck
  }

  return WriteResults();
}
