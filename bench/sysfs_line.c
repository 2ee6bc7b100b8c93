/* The floor for a whole run: a static C program that reads one sysfs file
 * (the machine's model) and writes one line to Model.txt in %Windir%, with
 * nothing else. bench/wholerun.py times the model program against it. */
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

int main(int argc, char** argv) {
  const char* source = argc > 1 ? argv[1] : "/sys/class/dmi/id/product_name";
  char value[256];
  ssize_t length = -1;
  int in = open(source, O_RDONLY);
  if (in >= 0) {
    length = read(in, value, sizeof(value) - 1);
    close(in);
  }
  while (length > 0 && (value[length - 1] == '\n' || value[length - 1] == 0))
    --length;
  char line[300];
  int size = length >= 0 ? snprintf(line, sizeof(line), "Model = \"%.*s\"\r\n",
                                    (int)length, value)
                         : snprintf(line, sizeof(line), "Model = <null>\r\n");
  const char* dir = getenv("Windir");
  char path[4096];
  snprintf(path, sizeof(path), "%s/Model.txt", dir ? dir : ".");
  int out = open(path, O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (out < 0) return 1;
  int ok = write(out, line, (size_t)size) == size;
  return close(out) == 0 && ok ? 0 : 1;
}
