/* The physical floor for a launcher: a static program that only starts
   /bin/true and waits for it. */
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

int main(void) {
  char* argv[] = {"/bin/true", 0};
  pid_t pid;
  int status;
  if (posix_spawn(&pid, argv[0], 0, 0, argv, environ) != 0 || waitpid(pid, &status, 0) < 0)
    return 125;
  return WEXITSTATUS(status);
}
