#include "driver/run_enabler.h"

#ifndef _WIN32
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

namespace {

// The run must finish its registry writes whatever happens to its output, as
// it does on Windows: a reader that went away must not kill it with SIGPIPE
// between two writes, and a closed standard stream must not lend its number
// to a registry file that stray output could then land in.
void ProtectRunFromItsOutput() {
  signal(SIGPIPE, SIG_IGN);
  for (int fd = 0; fd <= 2; ++fd) {
    if (fcntl(fd, F_GETFD) == -1) {
      const int opened = open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
      if (opened >= 0 && opened != fd) {
        dup2(opened, fd);
        close(opened);
      }
    }
  }
}

}  // namespace
#endif

int main(int argc, char* argv[]) {
#ifndef _WIN32
  ProtectRunFromItsOutput();
#endif
  return RunEnabler(argc, argv);
}
