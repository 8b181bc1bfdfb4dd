// The diagnostic trace sink: every layer formats its trace lines for it, and it discards them unless a
// sink is installed (the console front end's --verbose, or a test).
#pragma once

namespace qor {

void debug_trace(const char* format, ...) __attribute__((format(printf, 1, 2)));

using TraceSink = void (*)(const char* line);
void set_trace_sink(TraceSink sink);

}  // namespace qor
