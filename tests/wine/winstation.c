/* Test helper for the Wine tests, never shipped: runs a program the way a
 * service, a start-up script or a scheduled task runs one in session 0, in a
 * window station that nobody sees, and exits with that program's exit code.
 *
 *   winstation.exe SECONDS PROGRAM [ARGUMENTS...]
 *
 * A program still running after SECONDS is ended, as a deployment tool ends
 * it at its timeout: exit code 124. Exit codes 120 to 123: the helper's own
 * failures. The station's flags go to standard error, so that a test can
 * tell an invisible station from one Wine made visible. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <windows.h>

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
  USEROBJECTFLAGS flags;
  DWORD needed = 0;
  if (GetUserObjectInformationA(station, UOI_FLAGS, &flags, sizeof flags,
                                &needed))
    fprintf(stderr, "winstation: flags %#lx\n", (unsigned long)flags.dwFlags);

  char command[8192] = "";
  for (int i = 2; i < argc; ++i) {
    if (strlen(command) + strlen(argv[i]) + 4 > sizeof command) return 122;
    strcat(command, i == 2 ? "\"" : " ");
    strcat(command, argv[i]);
    if (i == 2) strcat(command, "\"");
  }
  char desktop[] = "ModelUnattended\\Default";
  STARTUPINFOA startup;
  PROCESS_INFORMATION process;
  memset(&startup, 0, sizeof startup);
  startup.cb = sizeof startup;
  startup.lpDesktop = desktop;
  if (!CreateProcessA(NULL, command, NULL, NULL, FALSE, 0, NULL, NULL, &startup,
                      &process)) {
    fprintf(stderr, "winstation: cannot run %s: error %lu\n", argv[2],
            (unsigned long)GetLastError());
    return 123;
  }
  DWORD code = 124;
  if (WaitForSingleObject(process.hProcess, limit) == WAIT_OBJECT_0)
    GetExitCodeProcess(process.hProcess, &code);
  else
    TerminateProcess(process.hProcess, 124);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return (int)code;
}
