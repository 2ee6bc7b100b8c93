// The program's entry on POSIX: answers --help and --version itself and
// hands any other command line to WinMain as Windows would, exiting with its
// result.
#include <cstdio>
#include <cstring>
#include <string>

#include "wmi/platform.h"

#ifndef MODEL_VERSION
#error "MODEL_VERSION comes from CMake's project(VERSION)"
#endif

namespace {

// Kept to 80 columns, the narrowest terminal it is likely to meet.
const char kUsage[] = R"(Usage: model [REQUEST...]
       model --help | -h | '/?'
       model --version

Records this computer's model, and the WMI facts that each REQUEST names, in
Model.txt in the Windows directory.

Requests, separated by spaces:
  CLASS;PROPERTY   one property of every instance: Win32_BIOS;SerialNumber
  CLASS;A,B        several properties
  CLASS;*          every property
Quote each request: the shell ends a command at ';' and expands '*':
  model 'Win32_BIOS;SerialNumber' 'Win32_ComputerSystem;*'

Files, in the Windows directory:
  Model.txt  one line per property, NAME = VALUE, CR LF line ends; replaced
             whole at the end of a run, or left as it was
  Model.log  emptied when a run starts; why WMI or a request failed
Problems with a request or a file are printed on standard error.

Environment:
  Windir                the Windows directory; when unset or empty, the
                        current directory
  MODEL_WMI_REPOSITORY  answer from this MOF file instead of this machine
  MODEL_FS_ROOT         read this machine's facts below this directory, not /

Exit status:
  0  WMI answered; Model.txt holds this run's results (a request that failed
     is in Model.log)
  1  COM or WMI did not start; Model.log says why; Model.txt is untouched
  2  Model.txt could not be written; standard error says why

More in man model.
)";

bool IsOption(const char* argument, const char* name) {
  return std::strcmp(argument, name) == 0;
}

}  // namespace

int main(int argc, char** argv) {
  // These words can never be requests (no class name begins with '-' or
  // '/'), so they are answered wherever they stand, the words Windows'
  // WinMain answers too, and nothing of the run happens: no file is touched.
  // A terminal's reader asks, so the answer is standard output, never the
  // log.
  bool help = false;
  bool version = false;
  for (int i = 1; i < argc; ++i) {
    help = help || IsOption(argv[i], "--help") || IsOption(argv[i], "-h") ||
           IsOption(argv[i], "/?");
    version = version || IsOption(argv[i], "--version");
  }
  if (help || version) {
    std::fputs(help ? kUsage : "model " MODEL_VERSION "\n", stdout);
    return 0;
  }

  // Windows gives WinMain the text after the program name and the blanks
  // that follow it; the shell has already split that text on blanks.
  std::string tail;
  for (int i = 1; i < argc; ++i) {
    if (i > 1) tail += ' ';
    tail += argv[i];
  }
  return WinMain(nullptr, nullptr, tail.data(), SW_SHOWDEFAULT);
}
