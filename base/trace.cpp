#include "base/trace.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>

namespace qor {

namespace {
std::atomic<TraceSink> trace_sink{nullptr};
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
