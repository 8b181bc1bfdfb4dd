// The dialog manager: a Toolkit that keeps every window's state and message queue itself and leaves the
// drawing to a DialogView. The per-thread rules live here once, for every backend: procedures run on
// the owner thread; what the user does (from the GUI thread, a console or a test) is queued or written
// into the window's state and seen by the owner at its next pump.
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "ui/dialog_templates.h"
#include "ui/toolkit.h"

namespace qor {

struct PixelSize {
  int width, height;
};

// What changed of a window's title and progress since the view last heard of them.
struct WindowUpdate {
  const std::string* title = nullptr;  // the new title, or null when it is unchanged
  int bar = 0;                         // the progress control whose position changed, or 0
  int position = 0;
};

// What a backend draws. All calls come from the window's owner thread except where noted; a backend
// whose widgets live on one GUI thread marshals them there. Only message_box blocks.
class DialogView {
 public:
  virtual ~DialogView() = default;
  virtual PixelSize pixel_size(const DialogTemplate& tmpl) = 0;  // outer size of the window
  virtual PixelSize screen_size() = 0;
  virtual void on_create(Window, const DialogTemplate&, bool modal) = 0;
  virtual void on_show(Window) {}  // once, after the procedure has handled MSG_INITDIALOG
  virtual void on_destroy(Window) = 0;
  virtual void on_title(Window, const std::string&) {}
  virtual void on_text(Window, int /*id*/, const std::string&) {}
  virtual void on_focus(Window, int /*id*/) {}
  virtual void on_list_add(Window, int /*id*/, const std::string&) {}
  virtual void on_list_select(Window, int /*id*/, int /*index*/) {}
  virtual void on_progress_range(Window, int /*id*/, int /*low*/, int /*high*/) {}
  virtual void on_progress_pos(Window, int /*id*/, int /*pos*/) {}
  virtual void on_move(Window, int /*left*/, int /*top*/) {}
  // The window's latest title and bar position, coalesced by the manager (see ViewPacing). By default
  // the title goes to on_title, then the position to on_progress_pos.
  virtual void on_update(Window window, const WindowUpdate& update) {
    if (update.title) on_title(window, *update.title);
    if (update.bar != 0) on_progress_pos(window, update.bar, update.position);
  }
  virtual int message_box(Window owner, const std::string& text, const std::string& caption,
                          unsigned flags) = 0;
};

struct ControlState {
  std::string text;
  std::vector<std::string> items;
  int selection = -1;
  int range_low = 0, range_high = 100;
  int position = 0;
};

// A copy of one window's state, for backends and tests.
struct WindowSnapshot {
  Window window = Window::none;
  int template_id = 0;
  bool modal = false;
  std::string title;
  int focus = 0;
  ScreenRect rect{};
  std::map<int, ControlState> controls;
};

// A window's title and progress position may change thousands of times a second (once per TFTP block);
// the manager keeps every change, but hands the view the latest values at most once per window per
// frame, and only what differs from what the view has. Whatever is left waits for the window's next
// change or pump once the frame is over, and is handed at once before any other change to the window,
// before it is destroyed, and before a modal dialog or a message box. A frame of zero hands every change.
struct ViewPacing {
  using Clock = std::chrono::steady_clock;
  Clock::duration frame = std::chrono::microseconds(16667);  // 60 frames a second
  Clock::time_point (*now)() = &Clock::now;
};

class DialogManager : public Toolkit {
 public:
  explicit DialogManager(DialogView& view, ViewPacing pacing = {}) : view_(view), pacing_(pacing) {}

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

  // What the user does; any thread may call these.
  void user_command(Window window, int id);  // a button, Enter (the default button), Escape or close (2)
  void user_set_text(Window window, int id, const std::string& text);  // typing into a field
  void user_select(Window window, int id, int index);                  // picking a list item
  // Cancel on every window open now and on every window opened from now on: an interrupt from the
  // terminal, which must not be lost between two windows or in a window that is just closing.
  void cancel_everything();
  bool cancelling() const;

  std::optional<WindowSnapshot> snapshot(Window window) const;
  // (template, control id) of every use of a control that its template lacks.
  std::vector<std::pair<int, int>> unknown_controls() const;
  std::vector<WindowSnapshot> open_windows() const;
  bool exists(Window window) const;

 private:
  struct Record {
    const DialogTemplate* tmpl = nullptr;
    DialogProc proc = nullptr;
    std::thread::id owner;
    bool modal = false;
    bool ended = false;
    std::intptr_t result = 0;
    std::intptr_t data = 0;
    std::string title;
    int focus = 0;
    ScreenRect rect{};
    std::map<int, ControlState> controls;
    std::deque<int> commands;
    // What the view has of the title and the bar, and what waits for the next frame.
    std::mutex handing;        // one hand-over to the view at a time; taken before mutex_
    bool title_waits = false;  // the title changed since the last hand-over
    int bar_waits = 0;         // the progress control whose position changed since, or 0
    std::string handed_title;  // the title the view has (its buffer is reused)
    int handed_bar = 0, handed_position = 0;
    ViewPacing::Clock::time_point last_handed{};
  };

  Window open(int template_id, DialogProc proc, bool modal, std::intptr_t init_param);
  Record* find(Window window);                  // caller holds mutex_
  void check_control(const Record& r, int id);  // caller holds mutex_
  const Record* find(Window window) const;
  void dispatch(Window window, DialogProc proc, int command);
  void forget(Window window);              // tells the view, then drops the record
  bool frame_over(const Record& r) const;  // caller holds mutex_
  // Hands the view what waits of the window: at once, or with `frame_only` only once its frame is over.
  void hand_over(Window window, bool frame_only = false);
  void hand_over_all();

  DialogView& view_;
  const ViewPacing pacing_;
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::map<Window, std::shared_ptr<Record>> windows_;
  std::uintptr_t next_handle_ = 0x100;
  std::vector<std::pair<int, int>> unknown_controls_;
  bool cancelling_ = false;
};

}  // namespace qor
