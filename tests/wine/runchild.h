/* What the Wine tests' helper programs share: running the rest of their own
 * command line as one program and waiting for it. */
#ifndef MODEL_TESTS_WINE_RUNCHILD_H
#define MODEL_TESTS_WINE_RUNCHILD_H

#include <stdio.h>
#include <string.h>
#include <windows.h>

/* Runs argv[first] with the arguments after it, on `desktop` (NULL: the
 * caller's), and gives its exit code. A program still running after `limit`
 * milliseconds is ended: 124. 122: the command line is too long; 123: the
 * program could not be started (`tool` names the helper in the message). */
static int RunChild(const char *tool, int argc, char **argv, int first,
                    char *desktop, DWORD limit) {
  /* The program's path quoted, the arguments as they came: the program
   * reads its command-line tail as raw text. */
  char command[8192] = "";
  for (int i = first; i < argc; ++i) {
    if (strlen(command) + strlen(argv[i]) + 4 > sizeof command) return 122;
    strcat(command, i == first ? "\"" : " ");
    strcat(command, argv[i]);
    if (i == first) strcat(command, "\"");
  }
  STARTUPINFOA startup;
  PROCESS_INFORMATION process;
  memset(&startup, 0, sizeof startup);
  startup.cb = sizeof startup;
  startup.lpDesktop = desktop;
  if (!CreateProcessA(NULL, command, NULL, NULL, FALSE, 0, NULL, NULL, &startup,
                      &process)) {
    fprintf(stderr, "%s: cannot run %s: error %lu\n", tool, argv[first],
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

#endif
