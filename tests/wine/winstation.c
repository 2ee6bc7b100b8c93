/* Test helper for the Wine tests, never shipped: runs a program the way a
 * service, a start-up script or a scheduled task runs one in session 0, in a
 * window station that nobody sees, and exits with that program's exit code.
 *
 *   winstation.exe SECONDS PROGRAM [ARGUMENTS...]
 *
 * A program still running after SECONDS is ended, as a deployment tool ends
 * it at its timeout: exit code 124. Exit codes 120 to 123: the helper's own
 * failures. */
#include <stdio.h>
#include <stdlib.h>
#include <windows.h>

#include "runchild.h"

int main(int argc, char **argv) {
  if (argc < 3) {
    fprintf(stderr, "usage: winstation SECONDS PROGRAM [ARGS...]\n");
    return 120;
  }
  DWORD limit = (DWORD)strtoul(argv[1], NULL, 10) * 1000;

  /* No WSF_VISIBLE: only the interactive station WinSta0 has it. */
  HWINSTA station =
      CreateWindowStationA("ModelUnattended", 0, WINSTA_ALL_ACCESS, NULL);
  if (!station || !SetProcessWindowStation(station) ||
      !CreateDesktopA("Default", NULL, NULL, 0, GENERIC_ALL, NULL)) {
    fprintf(stderr, "winstation: cannot set up the station: error %lu\n",
            (unsigned long)GetLastError());
    return 121;
  }

  char desktop[] = "ModelUnattended\\Default";
  return RunChild("winstation", argc, argv, 2, desktop, limit);
}
