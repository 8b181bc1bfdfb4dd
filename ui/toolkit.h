// The port between the dialog procedures and whatever draws the dialogs.
//
// The shape follows the per-thread window model the program was written for: a window belongs to the
// thread that created it, and its procedure runs on that thread only, inside that thread's modal loop or
// when that thread pumps the window's messages. A user's click on another thread is queued and seen at
// the owner's next pump, so a dialog procedure never runs concurrently with the code that owns it.
#pragma once

#include <cstdint>

#include "base/process.h"
#include "ui/control_ids.h"

namespace qor {

enum class Window : std::uintptr_t { none = 0 };

inline constexpr unsigned MSG_INITDIALOG = 0x0110;
inline constexpr unsigned MSG_COMMAND = 0x0111;

// Message box flags (the original values, so that a native backend can pass them through).
inline constexpr unsigned MB_OK = 0x0000;
inline constexpr unsigned MB_TASKMODAL = 0x2000;

// Returns nonzero when it handled the message. For MSG_COMMAND the low 16 bits of wparam are the
// control id; for MSG_INITDIALOG lparam is the dialog's init parameter, and returning 0 means "I have
// placed the focus myself".
using DialogProc = std::intptr_t (*)(Window window, unsigned message, std::uintptr_t wparam,
                                     std::intptr_t lparam);

struct ScreenRect {
  int left, top, right, bottom;
};

class Toolkit {
 public:
  virtual ~Toolkit() = default;

  // Runs a modal dialog on the calling thread and returns the value its procedure ended it with.
  // `init_param` reaches the procedure as the lparam of MSG_INITDIALOG.
  virtual std::intptr_t dialog_box(int template_id, DialogProc proc, std::intptr_t init_param = 0) = 0;
  // Creates and shows a modeless dialog owned by the calling thread.
  virtual Window create_dialog(int template_id, DialogProc proc, std::intptr_t init_param = 0) = 0;
  virtual void destroy_window(Window window) = 0;
  virtual void end_dialog(Window window, std::intptr_t result) = 0;

  // A value the procedure keeps with its window, usually its init parameter (the platform's DWLP_USER).
  virtual void set_window_data(Window window, std::intptr_t data) = 0;
  virtual std::intptr_t window_data(Window window) = 0;

  virtual void set_window_text(Window window, const char* text) = 0;
  virtual void set_item_text(Window window, int id, const char* text) = 0;
  // Copies at most size - 1 bytes of the control's text and a terminator; returns the bytes copied.
  virtual int get_item_text(Window window, int id, char* buffer, int size) = 0;
  virtual void set_focus(Window window, int id) = 0;

  virtual void list_add(Window window, int id, const char* text) = 0;
  virtual void list_select(Window window, int id, int index) = 0;
  virtual int list_selection(Window window, int id) = 0;  // -1 when nothing is selected

  virtual void progress_range(Window window, int id, int low, int high) = 0;
  virtual void progress_pos(Window window, int id, int pos) = 0;

  // Handles at most one pending message of the window (returns whether it did) / every pending one.
  // Only the owner thread pumps; elsewhere these do nothing.
  virtual bool pump_one(Window window) = 0;
  virtual void pump_all(Window window) = 0;

  virtual bool get_window_rect(Window window, ScreenRect& rect) = 0;
  virtual void screen_size(int& width, int& height) = 0;
  // Moves the window, keeps its size and brings it to the top.
  virtual void move_window(Window window, int left, int top) = 0;

  // Blocks the calling thread until the user has closed the box; returns the id of the button.
  virtual int message_box(Window owner, const char* text, const char* caption, unsigned flags) = 0;
};

// The toolkit every procedure draws with: that of the calling thread's run when it has its own (see
// ToolkitScope), otherwise the process's. Front ends install theirs before the upgrade starts.
Toolkit& toolkit();
void set_toolkit(Toolkit* toolkit);
bool has_toolkit();

// A run with a toolkit of its own, one device among several: the threads in its scope (those that work
// for it, base/process.h) draw its windows with it, so that every window belongs to one device.
class ToolkitScope : public RunScope {
 public:
  explicit ToolkitScope(Toolkit& toolkit) : toolkit_(toolkit) {}
  Toolkit& toolkit() const { return toolkit_; }

 private:
  Toolkit& toolkit_;
};

inline int command_id(std::uintptr_t wparam) {
  return static_cast<int>(wparam & 0xFFFF);
}

// The record a procedure keeps with its window: stores it on MSG_INITDIALOG, returns it on every message.
template <class T>
T& dialog_record(Window window, unsigned message, std::intptr_t lparam) {
  if (message == MSG_INITDIALOG) toolkit().set_window_data(window, lparam);
  return *reinterpret_cast<T*>(toolkit().window_data(window));
}

}  // namespace qor
