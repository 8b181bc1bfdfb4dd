#include "net/cpu.h"

#include <fcntl.h>
#include <sched.h>
#include <unistd.h>

#include <cstdlib>

namespace qor {

void yield_cpu() {
  sched_yield();
}

bool cpus_contended() {
  static const long cpus = sysconf(_SC_NPROCESSORS_ONLN);
  // The fourth field of /proc/loadavg is "running/total": the tasks ready to run at this moment.
  int fd = ::open("/proc/loadavg", O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  char text[128];
  ssize_t n = ::read(fd, text, sizeof text - 1);
  ::close(fd);
  if (n <= 0) return false;
  text[n] = '\0';
  const char* p = text;
  for (int field = 0; field < 3; ++field) {
    while (*p && *p != ' ')
      ++p;
    while (*p == ' ')
      ++p;
  }
  char* end = nullptr;
  long running = std::strtol(p, &end, 10);
  if (end == p || *end != '/') return false;
  return cpus > 0 && running > cpus;
}

}  // namespace qor
