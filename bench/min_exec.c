/* The floor of the gate's cost: a program that only becomes the shell
 * running its one argument, as the gate does once it has allowed a command. */
#include <unistd.h>

int main(int argc, char* argv[]) {
  if (argc != 2) return 1;
  execl("/bin/sh", "sh", "-c", argv[1], (char*)0);
  return 255;
}
