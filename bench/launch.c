/* Starts a program N times, one after another, and prints the wall time per
 * launch in microseconds and the largest peak RSS of the runs in KiB:
 *   launch N program [args...]
 * Spawning from C keeps the launcher's own cost out of the comparison. */
#include <spawn.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>

extern char** environ;

int main(int argc, char** argv) {
  if (argc < 3) {
    fprintf(stderr, "usage: launch N program [args...]\n");
    return 2;
  }
  const int count = atoi(argv[1]);
  struct timespec start, end;
  clock_gettime(CLOCK_MONOTONIC, &start);
  for (int i = 0; i < count; ++i) {
    pid_t pid;
    if (posix_spawn(&pid, argv[2], NULL, NULL, argv + 2, environ) != 0) {
      perror(argv[2]);
      return 1;
    }
    int status;
    if (waitpid(pid, &status, 0) < 0 || !WIFEXITED(status)) {
      fprintf(stderr, "%s did not exit normally\n", argv[2]);
      return 1;
    }
  }
  clock_gettime(CLOCK_MONOTONIC, &end);
  const double micros = ((double)(end.tv_sec - start.tv_sec) * 1e6 +
                         (double)(end.tv_nsec - start.tv_nsec) / 1e3) /
                        count;
  struct rusage usage;
  getrusage(RUSAGE_CHILDREN, &usage);
  printf("%.1f %ld\n", micros, usage.ru_maxrss);
  return 0;
}
