#include "net/clock.h"

#include <atomic>
#include <chrono>
#include <thread>

#ifdef _WIN32
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
// after windows.h, which it needs
#include <mmsystem.h>
#endif

namespace qor {

namespace {
std::atomic<std::uint32_t> clock_offset{0};
}

std::uint32_t time_get_time() {
#ifdef _WIN32
  return static_cast<std::uint32_t>(timeGetTime()) + clock_offset.load();
#else
  auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
      std::chrono::steady_clock::now().time_since_epoch());
  return static_cast<std::uint32_t>(ms.count()) + clock_offset.load();
#endif
}

void set_clock_offset(std::uint32_t offset) {
  clock_offset.store(offset);
}

void sleep_ms(unsigned ms) {
  std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

}  // namespace qor
