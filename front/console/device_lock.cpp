#include "front/console/device_lock.h"

#include <cstdlib>

#ifdef _WIN32
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>
#endif

namespace qor::console {

namespace {

std::string lock_path(const std::string& address) {
#ifdef _WIN32
  return lock_directory() + "\\qor-upgrade-" + address + ".lock";
#else
  return lock_directory() + "/qor-upgrade-" + address + ".lock";
#endif
}

enum class Lock { taken, held_elsewhere, unavailable };

// Takes the lock; with `keep` false it is given back at once. A lock that is kept stays with the
// process: the system drops it when the process ends, however it ends.
Lock take(const std::string& address, bool keep) {
  const std::string path = lock_path(address);
#ifdef _WIN32
  HANDLE h = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                         nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return Lock::unavailable;
  OVERLAPPED at{};
  if (!LockFileEx(h, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at)) {
    CloseHandle(h);
    return Lock::held_elsewhere;
  }
  if (!keep) CloseHandle(h);
#else
  int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0) return Lock::unavailable;
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    ::close(fd);
    return Lock::held_elsewhere;
  }
  if (!keep) ::close(fd);
#endif
  return Lock::taken;
}

}  // namespace

std::string lock_directory() {
#ifdef _WIN32
  const char* temp = std::getenv("TEMP");
  return temp && *temp ? temp : ".";
#else
  if (::geteuid() == 0) return "/run/lock";
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  if (runtime && *runtime) return runtime;
  const char* temp = std::getenv("TMPDIR");
  return temp && *temp ? temp : "/tmp";
#endif
}

bool claim_device(const std::string& address) {
  return take(address, true) != Lock::held_elsewhere;
}

bool device_busy(const std::string& address) {
  return take(address, false) == Lock::held_elsewhere;
}

}  // namespace qor::console
