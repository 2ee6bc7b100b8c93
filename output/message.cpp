// Message boxes that never wait where nobody can answer them: a box in an
// invisible window station (session 0) stays up for ever, and the deployment
// tool that started the run gives up on it only at its own timeout.
#include "output/message.h"

#include "output/log.h"

namespace {

// The caption Windows puts on a box that was given none.
constexpr char kDefaultCaption[] = "Error";

bool AskWindowStation() {
  HWINSTA station = GetProcessWindowStation();
  USEROBJECTFLAGS flags = {};
  DWORD needed = 0;
  // A station that cannot be asked counts as invisible: a message logged
  // where someone could have seen a box loses nothing, a box that nobody
  // sees holds the run for ever.
  if (!station || !GetUserObjectInformationA(station, UOI_FLAGS, &flags,
                                             sizeof flags, &needed))
    return false;
  return (flags.dwFlags & WSF_VISIBLE) != 0;
}

void ReportToEventLog(const std::string& text) {
  HANDLE source = RegisterEventSourceA(nullptr, "Model");
  if (!source) return;
  const char* strings[] = {text.c_str()};
  ReportEventA(source, EVENTLOG_WARNING_TYPE, 0, 0, nullptr, 1, 0, strings,
               nullptr);
  DeregisterEventSource(source);
}

}  // namespace

bool InteractiveDesktop() {
  static const bool interactive = AskWindowStation();
  return interactive;
}

void ShowMessage(const std::string& text, const char* caption, UINT type) {
  if (InteractiveDesktop()) {
    MessageBoxA(nullptr, text.c_str(), caption, type);
    return;
  }
  std::string line = "Message box (not shown, no interactive desktop): ";
  line += caption ? caption : kDefaultCaption;
  line += ": ";
  line += text;
  // Never LogMessage: its own failure would come back here.
  if (!AppendToLog(line)) ReportToEventLog(line);
}
