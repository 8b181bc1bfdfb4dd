// The native Windows backend of the toolkit port.
//
// Windows keeps windows per thread itself, so this backend needs no dialog manager: each template is
// turned into an in-memory dialog template and run by the system's dialog functions, modal dialogs in
// the system's modal loop and modeless ones pumped by their owner thread. This header stays free of
// <windows.h>, whose macros (MB_OK, IDOK, ...) collide with the port's constants.
#pragma once

#include <cstdint>

#include "ui/toolkit.h"

namespace qor::win32 {

class Win32Toolkit : public Toolkit {
 public:
  // `instance` is the module whose resources the icons of the templates come from; null: the program.
  explicit Win32Toolkit(void* instance = nullptr);
  // Every window made from now on shows this icon of the module (106, or 286 for the phone variant).
  void set_window_icon(int icon_id);

  std::intptr_t dialog_box(int template_id, DialogProc proc, std::intptr_t init_param = 0) override;
  Window create_dialog(int template_id, DialogProc proc, std::intptr_t init_param = 0) override;
  void destroy_window(Window window) override;
  void end_dialog(Window window, std::intptr_t result) override;

  void set_window_data(Window window, std::intptr_t data) override;
  std::intptr_t window_data(Window window) override;

  void set_window_text(Window window, const char* text) override;
  void set_item_text(Window window, int id, const char* text) override;
  int get_item_text(Window window, int id, char* buffer, int size) override;
  void set_focus(Window window, int id) override;

  void list_add(Window window, int id, const char* text) override;
  void list_select(Window window, int id, int index) override;
  int list_selection(Window window, int id) override;

  void progress_range(Window window, int id, int low, int high) override;
  void progress_pos(Window window, int id, int pos) override;

  bool pump_one(Window window) override;
  void pump_all(Window window) override;

  bool get_window_rect(Window window, ScreenRect& rect) override;
  void screen_size(int& width, int& height) override;
  void move_window(Window window, int left, int top) override;

  int message_box(Window owner, const char* text, const char* caption, unsigned flags) override;

 private:
  void* instance_;
  void* big_icon_ = nullptr;  // HICON: shared icons of the module, never destroyed
  void* small_icon_ = nullptr;
};

}  // namespace qor::win32
