// Helpers that every part of the program uses: the error box, window centring and the trace sink.
#pragma once

#include "ui/toolkit.h"

namespace qor {

inline constexpr const char* ERROR_CAPTION = "QOR Firwmare Upgrade Error";

// Task-modal box without owner, OK alone; a null caption gives ERROR_CAPTION. Returns IDOK.
// Does not end the program: fatal callers call end_process right after it.
int show_error(const char* message, const char* caption = nullptr);

// Shows the message with show_error and ends the process with status 0.
[[noreturn]] void fail_upgrade(const char* message);

// Centres the window on the screen without changing its size; leaves it alone when its rectangle
// cannot be read.
void center_window(Window window);

// The left (or top) edge that centres an extent of `size` on a screen of `screen`: the floor of half the
// difference, negative when the window is larger than the screen.
int centered_origin(int screen, int low, int high);

// The diagnostic trace sink: takes a printf-style format and discards it. A sink may be installed
// (the console front end's --verbose) to see the lines.
void debug_trace(const char* format, ...) __attribute__((format(printf, 1, 2)));
using TraceSink = void (*)(const char* line);
void set_trace_sink(TraceSink sink);

}  // namespace qor
