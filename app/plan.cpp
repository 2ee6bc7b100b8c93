// The query plan: the built-in model request, each command-line request in
// order, then the results file.
#include "app/plan.h"

#include <vector>

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

}  // namespace

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
    MessageBoxA(
        nullptr, text.c_str(), ExecutablePath().c_str(),
        MB_OK | MB_ICONEXCLAMATION);  // cppcheck-suppress badBitmaskCheck
  }

  return WriteResults();
}
