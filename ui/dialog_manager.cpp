#include "ui/dialog_manager.h"

#include <cstring>

#include "base/trace.h"

namespace qor {

namespace {
Toolkit* current_toolkit = nullptr;
}

Toolkit& toolkit() {
  if (auto* scope = dynamic_cast<ToolkitScope*>(current_run_scope())) return scope->toolkit();
  return *current_toolkit;
}
void set_toolkit(Toolkit* t) {
  current_toolkit = t;
}
bool has_toolkit() {
  return current_toolkit != nullptr || dynamic_cast<ToolkitScope*>(current_run_scope()) != nullptr;
}

// A control that its template lacks: a procedure or a backend names the wrong id. The platform would
// ignore the call; it is noted so that tests can see it.
void DialogManager::check_control(const Record& r, int id) {
  for (const ControlTemplate& c : r.tmpl->controls) {
    if (c.id == id) return;
  }
  unknown_controls_.push_back({r.tmpl->id, id});
  debug_trace("Control %d is not in dialog %d\n", id, r.tmpl->id);
}

std::vector<std::pair<int, int>> DialogManager::unknown_controls() const {
  std::lock_guard lock(mutex_);
  return unknown_controls_;
}

DialogManager::Record* DialogManager::find(Window window) {
  auto it = windows_.find(window);
  return it == windows_.end() ? nullptr : it->second.get();
}

const DialogManager::Record* DialogManager::find(Window window) const {
  auto it = windows_.find(window);
  return it == windows_.end() ? nullptr : it->second.get();
}

Window DialogManager::open(int template_id, DialogProc proc, bool modal, std::intptr_t init_param) {
  const DialogTemplate* tmpl = find_dialog_template(template_id);
  if (!tmpl) return Window::none;
  if (modal) hand_over_all();
  PixelSize size = view_.pixel_size(*tmpl);
  Window window;
  {
    std::lock_guard lock(mutex_);
    window = static_cast<Window>(next_handle_++);
    auto record = std::make_shared<Record>();
    record->tmpl = tmpl;
    record->proc = proc;
    record->owner = std::this_thread::get_id();
    record->modal = modal;
    record->title = tmpl->caption;         // a window's text starts as its template's caption
    record->handed_title = record->title;  // the view draws the caption from the template
    record->rect = {0, 0, size.width, size.height};
    for (const ControlTemplate& c : tmpl->controls) {
      if (c.id != 0) record->controls[c.id].text = c.caption;
    }
    windows_[window] = std::move(record);
  }
  view_.on_create(window, *tmpl, modal);
  proc(window, MSG_INITDIALOG, 0, init_param);
  {
    std::lock_guard lock(mutex_);
    Record* r = find(window);
    if (!r) return window;
    if (cancelling_) {
      r->commands.push_back(IDCANCEL);
      changed_.notify_all();
    }
  }
  hand_over(window);
  view_.on_show(window);
  return window;
}

std::intptr_t DialogManager::dialog_box(int template_id, DialogProc proc, std::intptr_t init_param) {
  Window window = open(template_id, proc, true, init_param);
  if (window == Window::none) return -1;
  // A procedure may end the whole run from inside the loop; the window must not outlive it.
  struct Closer {
    DialogManager& self;
    Window window;
    ~Closer() { self.forget(window); }
  } closer{*this, window};
  for (;;) {
    int command;
    {
      std::unique_lock lock(mutex_);
      Record* r = find(window);
      if (!r) return 0;
      changed_.wait(lock, [&] {
        Record* rec = find(window);
        return !rec || rec->ended || !rec->commands.empty();
      });
      r = find(window);
      if (!r) return 0;
      if (r->ended) return r->result;
      command = r->commands.front();
      r->commands.pop_front();
    }
    dispatch(window, proc, command);
  }
}

Window DialogManager::create_dialog(int template_id, DialogProc proc, std::intptr_t init_param) {
  return open(template_id, proc, false, init_param);
}

void DialogManager::set_window_data(Window window, std::intptr_t data) {
  std::lock_guard lock(mutex_);
  if (Record* r = find(window)) r->data = data;
}

std::intptr_t DialogManager::window_data(Window window) {
  std::lock_guard lock(mutex_);
  Record* r = find(window);
  return r ? r->data : 0;
}

void DialogManager::destroy_window(Window window) {
  {
    std::lock_guard lock(mutex_);
    Record* r = find(window);
    if (!r) return;
    if (r->modal) {  // a modal dialog is destroyed by its own loop once it has ended
      r->ended = true;
      changed_.notify_all();
      return;
    }
  }
  forget(window);
}

void DialogManager::forget(Window window) {
  if (!exists(window)) return;
  hand_over(window);
  view_.on_destroy(window);  // the view may still read the window's last state
  {
    std::lock_guard lock(mutex_);
    windows_.erase(window);
  }
  changed_.notify_all();
}

void DialogManager::end_dialog(Window window, std::intptr_t result) {
  std::lock_guard lock(mutex_);
  if (Record* r = find(window)) {
    r->ended = true;
    r->result = result;
  }
  changed_.notify_all();
}

bool DialogManager::frame_over(const Record& r) const {
  return pacing_.now() - r.last_handed >= pacing_.frame;
}

void DialogManager::hand_over(Window window, bool frame_only) {
  std::shared_ptr<Record> record;
  {
    std::lock_guard lock(mutex_);
    auto it = windows_.find(window);
    if (it == windows_.end() || (!it->second->title_waits && it->second->bar_waits == 0)) return;
    record = it->second;
  }
  std::lock_guard handing(record->handing);
  WindowUpdate update;
  {
    std::lock_guard lock(mutex_);
    Record& r = *record;
    if (!r.title_waits && r.bar_waits == 0) return;  // another thread has just handed it over
    if (frame_only && !frame_over(r)) return;
    if (r.title_waits && r.title != r.handed_title) {
      r.handed_title = r.title;
      update.title = &r.handed_title;
    }
    if (r.bar_waits != 0) {
      const int position = r.controls[r.bar_waits].position;
      if (r.bar_waits != r.handed_bar || position != r.handed_position) {
        update.bar = r.handed_bar = r.bar_waits;
        update.position = r.handed_position = position;
      }
    }
    r.title_waits = false;
    r.bar_waits = 0;
    if (!update.title && update.bar == 0) return;
    r.last_handed = pacing_.now();
  }
  // handed_title is written only under `handing`, which this thread holds.
  view_.on_update(window, update);
}

void DialogManager::hand_over_all() {
  std::vector<Window> waiting;
  {
    std::lock_guard lock(mutex_);
    for (const auto& [window, r] : windows_) {
      if (r->title_waits || r->bar_waits != 0) waiting.push_back(window);
    }
  }
  for (Window window : waiting)
    hand_over(window);
}

void DialogManager::set_window_text(Window window, const char* text) {
  {
    std::lock_guard lock(mutex_);
    Record* r = find(window);
    if (!r || r->title == text) return;
    r->title = text;  // reuses the string's buffer once it is long enough
    r->title_waits = true;
    if (!frame_over(*r)) return;
  }
  hand_over(window);
}

void DialogManager::set_item_text(Window window, int id, const char* text) {
  hand_over(window);  // what waits reaches the view before this change
  {
    std::lock_guard lock(mutex_);
    Record* r = find(window);
    if (!r) return;
    check_control(*r, id);
    r->controls[id].text = text;
  }
  view_.on_text(window, id, text);
}

int DialogManager::get_item_text(Window window, int id, char* buffer, int size) {
  if (size <= 0) return 0;
  std::lock_guard lock(mutex_);
  buffer[0] = '\0';
  Record* r = find(window);
  if (!r) return 0;
  check_control(*r, id);
  const std::string& text = r->controls[id].text;
  std::size_t n = std::min(text.size(), static_cast<std::size_t>(size - 1));
  std::memcpy(buffer, text.data(), n);
  buffer[n] = '\0';
  return static_cast<int>(n);
}

void DialogManager::set_focus(Window window, int id) {
  hand_over(window);  // what waits reaches the view before this change
  {
    std::lock_guard lock(mutex_);
    Record* r = find(window);
    if (!r) return;
    check_control(*r, id);
    r->focus = id;
  }
  view_.on_focus(window, id);
}

void DialogManager::list_add(Window window, int id, const char* text) {
  hand_over(window);  // what waits reaches the view before this change
  {
    std::lock_guard lock(mutex_);
    Record* r = find(window);
    if (!r) return;
    check_control(*r, id);
    r->controls[id].items.emplace_back(text);
  }
  view_.on_list_add(window, id, text);
}

void DialogManager::list_select(Window window, int id, int index) {
  hand_over(window);  // what waits reaches the view before this change
  {
    std::lock_guard lock(mutex_);
    Record* r = find(window);
    if (!r) return;
    check_control(*r, id);
    ControlState& c = r->controls[id];
    c.selection = (index >= 0 && index < static_cast<int>(c.items.size())) ? index : -1;
    index = c.selection;
  }
  view_.on_list_select(window, id, index);
}

int DialogManager::list_selection(Window window, int id) {
  std::lock_guard lock(mutex_);
  Record* r = find(window);
  if (!r) return -1;
  check_control(*r, id);
  return r->controls[id].selection;
}

void DialogManager::progress_range(Window window, int id, int low, int high) {
  hand_over(window);  // what waits reaches the view before this change
  {
    std::lock_guard lock(mutex_);
    Record* r = find(window);
    if (!r) return;
    check_control(*r, id);
    r->controls[id].range_low = low;
    r->controls[id].range_high = high;
  }
  view_.on_progress_range(window, id, low, high);
}

void DialogManager::progress_pos(Window window, int id, int pos) {
  bool other_bar_waits;
  {
    std::lock_guard lock(mutex_);
    Record* r = find(window);
    if (!r) return;
    check_control(*r, id);
    r->controls[id].position = pos;
    if (r->bar_waits == 0 && id == r->handed_bar && pos == r->handed_position) return;  // the view has it
    other_bar_waits = r->bar_waits != 0 && r->bar_waits != id;
    if (!other_bar_waits) {
      r->bar_waits = id;
      if (!frame_over(*r)) return;
    }
  }
  if (other_bar_waits) {
    hand_over(window);  // that bar goes first
    std::lock_guard lock(mutex_);
    Record* r = find(window);
    if (!r) return;
    r->bar_waits = id;
    if (!frame_over(*r)) return;
  }
  hand_over(window);
}

void DialogManager::dispatch(Window window, DialogProc proc, int command) {
  proc(window, MSG_COMMAND, static_cast<std::uintptr_t>(command), 0);
}

bool DialogManager::pump_one(Window window) {
  DialogProc proc = nullptr;
  int command = 0;
  bool waits;
  {
    std::lock_guard lock(mutex_);
    Record* r = find(window);
    if (!r || r->owner != std::this_thread::get_id()) return false;
    waits = (r->title_waits || r->bar_waits != 0) && frame_over(*r);
    if (!r->commands.empty()) {
      proc = r->proc;
      command = r->commands.front();
      r->commands.pop_front();
    }
  }
  if (waits) hand_over(window, true);
  if (!proc) return false;
  dispatch(window, proc, command);
  return true;
}

void DialogManager::pump_all(Window window) {
  while (pump_one(window)) {
  }
}

bool DialogManager::get_window_rect(Window window, ScreenRect& rect) {
  std::lock_guard lock(mutex_);
  Record* r = find(window);
  if (!r) return false;
  rect = r->rect;
  return true;
}

void DialogManager::screen_size(int& width, int& height) {
  PixelSize s = view_.screen_size();
  width = s.width;
  height = s.height;
}

void DialogManager::move_window(Window window, int left, int top) {
  hand_over(window);  // what waits reaches the view before this change
  {
    std::lock_guard lock(mutex_);
    Record* r = find(window);
    if (!r) return;
    r->rect = {left, top, left + (r->rect.right - r->rect.left), top + (r->rect.bottom - r->rect.top)};
  }
  view_.on_move(window, left, top);
}

int DialogManager::message_box(Window owner, const char* text, const char* caption, unsigned flags) {
  hand_over_all();
  return view_.message_box(owner, text ? text : "", caption ? caption : "", flags);
}

void DialogManager::user_command(Window window, int id) {
  std::lock_guard lock(mutex_);
  if (Record* r = find(window)) {
    if (id != IDCANCEL) check_control(*r, id);  // every dialog has its close box
    r->commands.push_back(id);
    changed_.notify_all();
  }
}

void DialogManager::user_set_text(Window window, int id, const std::string& text) {
  std::lock_guard lock(mutex_);
  if (Record* r = find(window)) {
    check_control(*r, id);
    r->controls[id].text = text;
  }
}

void DialogManager::user_select(Window window, int id, int index) {
  std::lock_guard lock(mutex_);
  if (Record* r = find(window)) {
    check_control(*r, id);
    ControlState& c = r->controls[id];
    if (index >= 0 && index < static_cast<int>(c.items.size())) c.selection = index;
  }
}

void DialogManager::cancel_everything() {
  std::lock_guard lock(mutex_);
  cancelling_ = true;
  for (auto& [window, r] : windows_)
    r->commands.push_back(IDCANCEL);
  changed_.notify_all();
}

bool DialogManager::cancelling() const {
  std::lock_guard lock(mutex_);
  return cancelling_;
}

bool DialogManager::exists(Window window) const {
  std::lock_guard lock(mutex_);
  return find(window) != nullptr;
}

std::optional<WindowSnapshot> DialogManager::snapshot(Window window) const {
  std::lock_guard lock(mutex_);
  const Record* r = find(window);
  if (!r) return std::nullopt;
  return WindowSnapshot{window, r->tmpl->id, r->modal, r->title, r->focus, r->rect, r->controls};
}

std::vector<WindowSnapshot> DialogManager::open_windows() const {
  std::lock_guard lock(mutex_);
  std::vector<WindowSnapshot> out;
  for (const auto& [window, r] : windows_) {
    out.push_back(WindowSnapshot{window, r->tmpl->id, r->modal, r->title, r->focus, r->rect, r->controls});
  }
  return out;
}

}  // namespace qor
