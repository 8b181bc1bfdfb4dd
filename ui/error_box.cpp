#include "ui/error_box.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>

#include "app/process.h"

namespace qor {

namespace {
std::atomic<TraceSink> trace_sink{nullptr};
}

int show_error(const char* message, const char* caption) {
  toolkit().message_box(Window::none, message, caption ? caption : ERROR_CAPTION, MB_OK | MB_TASKMODAL);
  return IDOK;
}

void fail_upgrade(const char* message) {
  show_error(message);
  end_process(0);
}

int centered_origin(int screen, int low, int high) {
  return (screen + low - high) >> 1;
}

void center_window(Window window) {
  ScreenRect rect{};
  if (!toolkit().get_window_rect(window, rect)) return;
  int width = 0, height = 0;
  toolkit().screen_size(width, height);
  toolkit().move_window(window, centered_origin(width, rect.left, rect.right),
                        centered_origin(height, rect.top, rect.bottom));
}

void debug_trace(const char* format, ...) {
  TraceSink sink = trace_sink.load();
  if (!sink) return;
  char line[1024];
  va_list args;
  va_start(args, format);
  std::vsnprintf(line, sizeof line, format, args);
  va_end(args);
  sink(line);
}

void set_trace_sink(TraceSink sink) {
  trace_sink.store(sink);
}

}  // namespace qor
