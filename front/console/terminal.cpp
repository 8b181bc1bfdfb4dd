#include "front/console/terminal.h"

#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>

#include "base/process.h"

namespace qor::console {

namespace {

sigset_t interrupt_signals() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  sigaddset(&set, SIGHUP);
  return set;
}

termios typing_shown{};

}  // namespace

void hold_interrupts() {
  // A reader that went away (| head) must not end a run half-way: a failed write is only lost output.
  signal(SIGPIPE, SIG_IGN);
  sigset_t set = interrupt_signals();
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

void watch_interrupts(const char* cancelling, const std::function<void()>& cancel,
                      const std::function<void()>& last_words) {
  const sigset_t set = interrupt_signals();
  int count = 0;
  for (;;) {
    int sig = 0;
    if (sigwait(&set, &sig) != 0) continue;
    if (++count > 1 || sig == SIGTERM || sig == SIGHUP) {
      std::fprintf(stderr, "\nqor-upgrade-cli: interrupted\n");
      if (last_words) last_words();
      end_process(1);
    }
    std::fprintf(stderr, "\nqor-upgrade-cli: %s\n", cancelling);
    cancel();
  }
}

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

bool is_terminal(std::FILE* stream) {
  return ::isatty(::fileno(stream)) != 0;
}

void pause_own_console() {}

bool terminal_size(std::FILE* out, int& rows, int& columns) {
  winsize size{};
  if (::ioctl(::fileno(out), TIOCGWINSZ, &size) != 0 || size.ws_row == 0 || size.ws_col == 0) return false;
  rows = size.ws_row;
  columns = size.ws_col;
  return true;
}

bool hide_typing() {
  if (tcgetattr(STDIN_FILENO, &typing_shown) != 0) return false;
  termios quiet = typing_shown;
  quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
  return tcsetattr(STDIN_FILENO, TCSANOW, &quiet) == 0;
}

void show_typing() {
  tcsetattr(STDIN_FILENO, TCSANOW, &typing_shown);
}

}  // namespace qor::console
