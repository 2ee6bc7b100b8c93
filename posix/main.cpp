// The program's entry on POSIX: hands the command-line tail to WinMain as
// Windows would and exits with its result.
#include <string>

#include "wmi/platform.h"

int main(int argc, char** argv) {
  // Windows gives WinMain the text after the program name and the blanks
  // that follow it; the shell has already split that text on blanks.
  std::string tail;
  for (int i = 1; i < argc; ++i) {
    if (i > 1) tail += ' ';
    tail += argv[i];
  }
  return WinMain(nullptr, nullptr, tail.data(), SW_SHOWDEFAULT);
}
