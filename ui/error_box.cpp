#include "ui/error_box.h"

#include "ui/texts.h"

namespace qor {

int show_error(const char* message, const char* caption) {
  toolkit().message_box(Window::none, message, caption ? caption : texts::ERROR_CAPTION,
                        MB_OK | MB_TASKMODAL);
  return IDOK;
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

}  // namespace qor
