/* The policy-size peer: usage regex_exec PATTERNS COMMAND. Tries the patterns
 * of the file (one per line) in order against COMMAND, each compiled, matched
 * and freed as the gate does, and becomes the shell on the first match. */
#include <regex.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

int main(int argc, char* argv[]) {
  if (argc != 3) return 2;
  FILE* patterns = fopen(argv[1], "r");
  if (patterns == NULL) return 2;
  char line[4096];
  int matched = 0;
  while (!matched && fgets(line, sizeof line, patterns) != NULL) {
    line[strcspn(line, "\n")] = '\0';
    regex_t re;
    if (regcomp(&re, line, 0) != 0) continue;
    matched = regexec(&re, argv[2], 0, NULL, 0) == 0;
    regfree(&re);
  }
  fclose(patterns);
  if (!matched) return 1;
  execl("/bin/sh", "sh", "-c", argv[2], (char*)0);
  return 255;
}
