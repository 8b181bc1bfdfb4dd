#include "tests/support/fake_toolkit.h"

#include <atomic>
#include <thread>

#include <gtest/gtest.h>

#include "base/process.h"
#include "base/trace.h"
#include "ui/control_ids.h"

namespace qor::test {

// Every change of a title or a bar reaches the view, so that tests see each one the core makes.
FakeToolkit::FakeToolkit() : manager_(*this, ViewPacing{ViewPacing::Clock::duration::zero()}) {}
FakeToolkit::~FakeToolkit() = default;

void FakeToolkit::on_show(int template_id, Action action) {
  std::lock_guard lock(mutex_);
  actions_[template_id] = std::move(action);
}

void FakeToolkit::agree_to_everything(const std::string& address) {
  for (int id : {IDD_WARNING, IDD_CONFIRM, IDD_CONFIRM_TRANSITION, IDD_SUCCESS})
    on_show(id, [](FakeToolkit& f, Window w) { f.click(w, IDOK); });
  on_show(IDD_ADDRESS, [address](FakeToolkit& f, Window w) {
    f.type(w, address_ids::ADDRESS, address);
    f.click(w, IDOK);
  });
}

void FakeToolkit::on_message_box(std::function<void(const MessageBoxCall&)> hook) {
  std::lock_guard lock(mutex_);
  box_hook_ = std::move(hook);
}

Window FakeToolkit::wait_for(int template_id, int nth, std::chrono::milliseconds timeout) {
  std::unique_lock lock(mutex_);
  Window found = Window::none;
  changed_.wait_for(lock, timeout, [&] {
    int seen = 0;
    for (auto& [id, w] : shown_) {
      if (id == template_id && seen++ == nth) {
        found = w;
        return true;
      }
    }
    return false;
  });
  return found;
}

void FakeToolkit::cancel_until(const std::function<bool()>& ended) {
  for (int i = 0; i < 500 && !ended(); ++i) {
    for (const WindowSnapshot& w : manager_.open_windows())
      click(w.window, IDCANCEL);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

WindowSnapshot FakeToolkit::last_state(Window w) const {
  if (auto s = manager_.snapshot(w)) return *s;
  std::lock_guard lock(mutex_);
  auto it = last_state_.find(w);
  return it == last_state_.end() ? WindowSnapshot{} : it->second;
}

std::vector<int> FakeToolkit::shown_templates() const {
  std::lock_guard lock(mutex_);
  std::vector<int> out;
  for (auto& [id, w] : shown_)
    out.push_back(id);
  return out;
}

std::vector<MessageBoxCall> FakeToolkit::message_boxes() const {
  std::lock_guard lock(mutex_);
  return boxes_;
}

std::vector<std::string> FakeToolkit::events() const {
  std::lock_guard lock(mutex_);
  return events_;
}

std::vector<int> FakeToolkit::progress_positions(Window w) const {
  std::lock_guard lock(mutex_);
  auto it = positions_.find(w);
  return it == positions_.end() ? std::vector<int>{} : it->second;
}

PixelSize FakeToolkit::pixel_size(const DialogTemplate& tmpl) {
  // The base units of an 8-point dialog font at 96 dpi: 6 x 13 pixels per 4 x 8 dialog units.
  return {tmpl.width * 6 / 4, tmpl.height * 13 / 8};
}

void FakeToolkit::on_create(Window w, const DialogTemplate& tmpl, bool) {
  std::lock_guard lock(mutex_);
  template_of_[w] = tmpl.id;
  events_.push_back("create " + std::to_string(tmpl.id));
}

void FakeToolkit::on_show(Window w) {
  Action action;
  int id;
  {
    std::lock_guard lock(mutex_);
    id = template_of_[w];
    events_.push_back("show " + std::to_string(id));
    shown_.emplace_back(id, w);
    auto it = actions_.find(id);
    if (it != actions_.end()) action = it->second;
  }
  changed_.notify_all();
  if (action) action(*this, w);
}

void FakeToolkit::on_destroy(Window w) {
  auto last = manager_.snapshot(w);
  std::lock_guard lock(mutex_);
  if (last) last_state_[w] = *last;
  events_.push_back("destroy " + std::to_string(template_of_[w]));
  changed_.notify_all();
}

void FakeToolkit::on_progress_pos(Window w, int, int pos) {
  std::lock_guard lock(mutex_);
  positions_[w].push_back(pos);
}

int FakeToolkit::message_box(Window owner, const std::string& text, const std::string& caption,
                             unsigned flags) {
  std::function<void(const MessageBoxCall&)> hook;
  MessageBoxCall call{owner, text, caption, flags};
  {
    std::lock_guard lock(mutex_);
    boxes_.push_back(call);
    events_.push_back("box " + text);
    hook = box_hook_;
  }
  changed_.notify_all();
  if (hook) hook(call);
  return IDOK;
}

ScopedFakeToolkit::ScopedFakeToolkit() {
  set_toolkit(&fake_.manager());
}
// Every control a procedure or the test named must be one of its dialog's.
ScopedFakeToolkit::~ScopedFakeToolkit() {
  set_toolkit(nullptr);
  EXPECT_EQ(fake_.manager().unknown_controls(), (std::vector<std::pair<int, int>>{}))
      << "(dialog, control) pairs used but not in the template";
}

void CoreThread::end() {
  fake_.cancel_until([this] { return !thread_.joinable() || done_; });
  if (thread_.joinable()) thread_.join();
}

void CoreThread::start(std::function<Outcome()> body) {
  thread_ = std::thread([this, body = std::move(body)] {
    try {
      outcome_ = body();
    } catch (const ProcessExit&) {
      ended_ = true;
    }
    done_ = true;
  });
}

Outcome CoreThread::finish() {
  thread_.join();
  return outcome_;
}

namespace {
std::atomic<bool> trap_ended{false};
std::atomic<int> trap_code{-1};

void trap_hook(int code) {
  trap_code.store(code);
  trap_ended.store(true);
  throw ProcessExit{code};
}
}  // namespace

ExitTrap::ExitTrap() {
  trap_ended.store(false);
  trap_code.store(-1);
  reset_process_ending();
  set_end_process_hook(trap_hook);
}

ExitTrap::~ExitTrap() {
  set_end_process_hook(nullptr);
  reset_process_ending();
}

bool ExitTrap::ended() const {
  return trap_ended.load();
}
int ExitTrap::code() const {
  return trap_code.load();
}

bool ExitTrap::wait(std::chrono::milliseconds timeout) const {
  return eventually([] { return trap_ended.load(); }, timeout);
}

bool eventually(const std::function<bool()>& condition, std::chrono::milliseconds timeout) {
  for (auto until = std::chrono::steady_clock::now() + timeout; !condition();) {
    if (std::chrono::steady_clock::now() > until) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return true;
}

namespace {
std::mutex trace_mutex;
std::vector<std::string> trace_lines;
}  // namespace

TraceRecorder::TraceRecorder() {
  std::lock_guard lock(trace_mutex);
  trace_lines.clear();
  set_trace_sink([](const char* line) {
    std::lock_guard lock(trace_mutex);
    trace_lines.emplace_back(line);
  });
}

TraceRecorder::~TraceRecorder() {
  set_trace_sink(nullptr);
}

std::vector<std::string> TraceRecorder::lines() {
  std::lock_guard lock(trace_mutex);
  return trace_lines;
}

}  // namespace qor::test
