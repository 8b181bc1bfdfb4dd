#include "sim/sim_log.h"

#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <mutex>

namespace qor::sim {

std::atomic<bool> stop_requested{false};

namespace {

std::mutex log_lock;
const auto log_start = std::chrono::steady_clock::now();
thread_local std::string log_device;

}  // namespace

void set_log_device(const std::string& label) {
  log_device = label;
}

void sim_log(const char* tag, const char* format, ...) {
  char text[1024];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - log_start).count();
  std::lock_guard<std::mutex> hold(log_lock);
  if (log_device.empty()) {
    std::printf("[%9.3f] %-6s %s\n", seconds, tag, text);
  } else {
    std::printf("[%9.3f] %-6s [%s] %s\n", seconds, tag, log_device.c_str(), text);
  }
  std::fflush(stdout);
}

}  // namespace qor::sim
