// Stands in for the cleanup program in logger tests: records each start as one line in
// "logsweep_started.txt" in its current folder (the logger's), and touches nothing else.
#include <fcntl.h>
#include <unistd.h>

int main() {
  int fd = open("logsweep_started.txt", O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  if (fd < 0) return 1;
  ssize_t n = write(fd, "started\n", 8);
  close(fd);
  return n == 8 ? 0 : 1;
}
