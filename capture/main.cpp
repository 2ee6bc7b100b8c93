// The capture tool's entry: model-capture [--json] [--redact] [-o FILE]
// [CLASS ...]. Connects to root\cimv2 as the model program does, captures
// each class named (by default the classes the model program's Linux build
// serves) and writes one self-contained MOF text, or with --json one JSON
// document, to FILE or to standard output; --redact puts placeholders in
// place of identifying values. `--list-defaults` prints those default
// classes, one a line, and does nothing else; `--help` and `--version` print
// the usage or the version, wherever they stand.
// Exit codes: 0 everything captured, 1 some class (or value) not captured
// or no WMI connection, 2 a bad command line or an output not written.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <iterator>
#include <string>
#include <vector>

#include "capture/capture.h"
#include "capture/default_classes.h"
#include "capture/json_capture.h"
#include "capture/mof_text.h"
#include "capture/redact.h"
#include "output/replace.h"
#include "wmi/codepage.h"
#include "wmi/connect.h"
#include "wmi/owners.h"
#include "wmi/status.h"

namespace {

constexpr const char* kTool = "model-capture";

const char kUsage[] =
    "Usage: model-capture [--json] [--redact] [-o FILE] [CLASS...]\n"
    "       model-capture --list-defaults | --help | --version\n"
    "\n"
    "Writes every instance of each CLASS of root\\cimv2, with the classes'\n"
    "declarations, as one MOF file: to FILE, replaced whole, or to standard\n"
    "output. Without a CLASS, the classes --list-defaults prints.\n"
    "  --json    one UTF-8 JSON document instead of MOF\n"
    "  --redact  placeholders in place of identifying values (serial numbers,\n"
    "            UUIDs, user, domain and host names, addresses, asset tags)\n"
    "\n"
    "Exit status: 0 everything captured; 1 a class or value not captured, or\n"
    "no WMI connection; 2 a bad command line or the output not written.\n";

void Fail(const std::string& what) {
  std::fprintf(stderr, "%s: %s\n", kTool, what.c_str());
}

std::string StatusText(HRESULT hr) {
  char code[16];
  std::snprintf(code, sizeof code, "0x%08X", static_cast<unsigned>(hr));
  std::string name = GetWbemStatusName(hr);
  // An unknown code comes back as its hex digits already.
  return name[0] == '0' ? name : name + " (" + code + ")";
}

// The system's wording for a Windows error code, without its line break.
std::string SystemReason(DWORD error) {
  char text[512];
  DWORD length =
      FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                     nullptr, error, 0, text, sizeof text, nullptr);
  while (length > 0 && (text[length - 1] == '\n' || text[length - 1] == '\r' ||
                        text[length - 1] == ' '))
    --length;
  if (length > 0) return std::string(text, length);
  return "error " + std::to_string(error);
}

// ANSI text as UTF-8 for a comment line: nothing lost but line breaks and
// other control characters, which would end the comment.
std::string CommentText(const std::string& ansi) {
  BSTR wide = AnsiToBstr(ansi);
  std::string text = wide ? WideToUtf8(wide, SysStringLen(wide)) : ansi;
  SysFreeString(wide);
  for (char& c : text)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
  return text;
}

std::string CommandLine(int argc, char** argv) {
  std::string line;
  for (int i = 0; i < argc; ++i) {
    std::string arg = argv[i];
    if (i > 0) line += ' ';
    bool quoted =
        arg.empty() || arg.find_first_of(" \t\"") != std::string::npos;
    if (quoted) line += '"';
    line += arg;
    if (quoted) line += '"';
  }
  return line;
}

// The machine's name as WMI gives it; empty when it cannot tell.
std::string MachineName(IWbemServices* services) {
  Bstr language(SysAllocString(OLESTR("WQL")));
  Bstr query(SysAllocString(OLESTR("SELECT Name FROM Win32_ComputerSystem")));
  Com<IEnumWbemClassObject> objects;
  if (!language.p || !query.p ||
      FAILED(
          services->ExecQuery(language.p, query.p, 0, nullptr, &objects.p)) ||
      !objects.p)
    return {};
  Com<IWbemClassObject> object;
  ULONG returned = 0;
  if (FAILED(objects.p->Next(WBEM_INFINITE, 1, &object.p, &returned)) ||
      returned != 1 || !object.p)
    return {};
  Variant value;
  if (FAILED(object.p->Get(OLESTR("Name"), 0, &value.v, nullptr, nullptr)) ||
      value.v.vt != VT_BSTR || !value.v.bstrVal)
    return {};
  return WideToUtf8(value.v.bstrVal, SysStringLen(value.v.bstrVal));
}

std::string UtcTime(std::time_t now, const char* format) {
  char when[64] = "unknown";
  if (const std::tm* utc = std::gmtime(&now))
    std::strftime(when, sizeof when, format, utc);
  return when;
}

std::string Header(const std::string& machine, const std::string& command,
                   std::time_t now) {
  std::string when = UtcTime(now, "%Y-%m-%d %H:%M:%S UTC");
  std::string text;
  text += "// WMI classes of " +
          (machine.empty() ? std::string("an unnamed machine")
                           : CommentText(machine)) +
          ", root\\cimv2\n";
  text += std::string("// Captured ") + when + " by " + kTool + " " +
          MODEL_VERSION + "\n";
  text += "// Command line: " + CommentText(command) + "\n";
  text +=
      "// Replay on Linux: MODEL_WMI_REPOSITORY=<this file> model "
      "'Class;*'\n\n";
  text += "#pragma namespace(\"\\\\\\\\.\\\\root\\\\cimv2\")\n\n";
  return text;
}

// The shared start-up's failure in this tool's words.
void ReportConnectFailure(const ConnectFailure& failure) {
  const char* step = "";
  switch (failure.step) {
    case ConnectStep::kComLibrary:
      step = "cannot initialize COM: ";
      break;
    case ConnectStep::kSecurity:
      step = "cannot initialize COM security: ";
      break;
    case ConnectStep::kLocator:
      step = "cannot create the WMI locator: ";
      break;
    case ConnectStep::kResourceName:
    case ConnectStep::kServer:
      step = "cannot connect to root\\cimv2: ";
      break;
  }
  Fail(step + StatusText(failure.code));
}

// Writes the text to `path` through a new file beside it, or to standard
// output when `path` is empty. False, with the reason reported, when it
// could not be written whole.
bool WriteOutput(const std::string& path, const std::string& text) {
  if (path.empty()) {
    if (std::fwrite(text.data(), 1, text.size(), stdout) == text.size() &&
        std::fflush(stdout) == 0)
      return true;
    Fail(std::string("cannot write standard output: ") + std::strerror(errno));
    return false;
  }
  size_t slash = path.find_last_of("\\/");
  std::string directory =
      slash == std::string::npos ? "." : path.substr(0, slash);
  std::string stem = slash == std::string::npos ? path : path.substr(slash + 1);
  // Never written in place, which a failure could leave half done.
  DWORD error = ERROR_SUCCESS;
  if (ReplaceWhole(directory, stem, path, text, &error) ==
      ReplaceOutcome::kReplaced)
    return true;
  Fail("cannot write " + path + ": " + SystemReason(error));
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  // Questions about the tool come before any capture, like the model
  // program's; neither word can be a class name.
  for (int i = 1; i < argc; ++i) {
    bool help = std::strcmp(argv[i], "--help") == 0;
    if (help || std::strcmp(argv[i], "--version") == 0) {
      if (help)
        std::fputs(kUsage, stdout);
      else
        std::printf("%s %s\n", kTool, MODEL_VERSION);
      return std::fflush(stdout) == 0 ? 0 : 2;
    }
  }
  // Alone, so that a script reading the list never starts a capture by a
  // typing slip.
  if (argc == 2 && std::strcmp(argv[1], "--list-defaults") == 0) {
    for (const char* name : kDefaultClasses) std::printf("%s\n", name);
    return std::fflush(stdout) == 0 ? 0 : 2;
  }
  std::string outputPath;
  std::vector<std::string> classes;
  bool json = false;
  bool redact = false;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg == "-o" && i + 1 < argc && argv[i + 1][0] != '\0') {
      outputPath = argv[++i];
    } else if (arg == "--json") {
      json = true;
    } else if (arg == "--redact") {
      redact = true;
    } else if (!arg.empty() && arg[0] != '-') {
      classes.push_back(arg);
    } else {
      std::fprintf(stderr,
                   "usage: %s [--json] [--redact] [-o FILE] [CLASS ...] | "
                   "--list-defaults | --help | --version\n",
                   kTool);
      return 2;
    }
  }
  if (classes.empty())
    classes.assign(std::begin(kDefaultClasses), std::end(kDefaultClasses));

  bool complete = true;
  std::string text;
  {
    // Given back before the output is written.
    WmiConnection connection;
    ConnectFailure failure;
    if (!connection.Open(&failure)) {
      ReportConnectFailure(failure);
      return 1;
    }
    Redactor redactor;
    Redactor* redacting = redact ? &redactor : nullptr;
    MofCapture mof(connection.services(), redacting);
    JsonCapture document(connection.services(), redacting);
    for (const std::string& name : classes) {
      HRESULT hr = json ? document.AddClass(name) : mof.AddClass(name);
      if (hr != S_OK) {
        Fail(name + ": " + StatusText(hr));
        complete = false;
      }
    }
    const std::vector<std::string>& losses =
        json ? document.Losses() : mof.Losses();
    for (const std::string& loss : losses) Fail(loss);
    complete = complete && losses.empty();
    std::string machine = MachineName(connection.services());
    if (redact) machine = redactor.MachineName(machine);
    std::time_t now = std::time(nullptr);
    text = json ? document.Text(machine, UtcTime(now, "%Y-%m-%dT%H:%M:%SZ"),
                                MODEL_VERSION)
                : Header(machine, CommandLine(argc, argv), now) + mof.Text();
  }

  if (!WriteOutput(outputPath, text)) return 2;
  return complete ? 0 : 1;
}
