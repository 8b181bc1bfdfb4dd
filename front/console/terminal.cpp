#include "front/console/terminal.h"

#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "base/process.h"

namespace qor::console {

bool read_terminal_line(std::string& line, const std::function<bool()>& give_up, std::size_t limit) {
  line.clear();
  while (!give_up()) {
    pollfd p{STDIN_FILENO, POLLIN, 0};
    int ready = ::poll(&p, 1, 50);
    if (ready < 0 && errno != EINTR) return false;
    if (ready <= 0) continue;
    char c = 0;
    if (::read(STDIN_FILENO, &c, 1) != 1) return false;
    if (c == '\n') return true;
    if (c != '\r' && line.size() < limit) line += c;
  }
  return false;
}

void watch_signals(sigset_t set, const char* cancelling, const std::function<void()>& cancel) {
  int count = 0;
  for (;;) {
    int sig = 0;
    if (sigwait(&set, &sig) != 0) continue;
    if (++count > 1 || sig == SIGTERM) {
      std::fprintf(stderr, "\nqor-upgrade-cli: interrupted\n");
      end_process(1);
    }
    std::fprintf(stderr, "\nqor-upgrade-cli: %s\n", cancelling);
    cancel();
  }
}

}  // namespace qor::console
