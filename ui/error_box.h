// The error box and window centring, which every dialog and every failure uses.
#pragma once

#include "ui/toolkit.h"

namespace qor {

// Task-modal box without owner, OK alone; a null caption gives the program's error caption. Returns IDOK.
// Does not end anything: the caller decides what follows.
int show_error(const char* message, const char* caption = nullptr);

// Centres the window on the screen without changing its size; leaves it alone when its rectangle
// cannot be read.
void center_window(Window window);

// The left (or top) edge that centres an extent of `size` on a screen of `screen`: the floor of half the
// difference, negative when the window is larger than the screen.
int centered_origin(int screen, int low, int high);

}  // namespace qor
