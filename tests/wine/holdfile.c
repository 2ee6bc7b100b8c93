/* Test helper for the Wine tests, never shipped: holds one file open with a
 * given access and share mode while another program runs, the way an
 * inventory agent, a virus scanner or a second run holds Model.txt or
 * Model.log, and exits with that program's exit code.
 *
 *   holdfile.exe ACCESS SHARE FILE PROGRAM [ARGUMENTS...]
 *
 * ACCESS holds r (GENERIC_READ) and w (GENERIC_WRITE); SHARE holds r, w and d
 * (FILE_SHARE_READ, _WRITE, _DELETE), or is 0 for none. FILE must exist.
 * Exit codes 120 to 123: the helper's own failures. */
#include <stdio.h>
#include <windows.h>

#include "runchild.h"

static DWORD Flags(const char *letters, DWORD r, DWORD w, DWORD d) {
  DWORD flags = 0;
  for (; *letters; ++letters) {
    if (*letters == 'r') flags |= r;
    if (*letters == 'w') flags |= w;
    if (*letters == 'd') flags |= d;
  }
  return flags;
}

int main(int argc, char **argv) {
  if (argc < 5) {
    fprintf(stderr, "usage: holdfile ACCESS SHARE FILE PROGRAM [ARGS...]\n");
    return 120;
  }
  DWORD access = Flags(argv[1], GENERIC_READ, GENERIC_WRITE, 0);
  DWORD share =
      Flags(argv[2], FILE_SHARE_READ, FILE_SHARE_WRITE, FILE_SHARE_DELETE);
  HANDLE held = CreateFileA(argv[3], access, share, NULL, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, NULL);
  if (held == INVALID_HANDLE_VALUE) {
    fprintf(stderr, "holdfile: cannot open %s: error %lu\n", argv[3],
            (unsigned long)GetLastError());
    return 121;
  }

  int code = RunChild("holdfile", argc, argv, 4, NULL, INFINITE);
  CloseHandle(held);
  return code;
}
