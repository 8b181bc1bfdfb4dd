// The scripted fake toolkit: the real dialog manager with a view that records what is drawn and lets a
// test act as the user, from any thread.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "base/outcome.h"
#include "ui/dialog_manager.h"

namespace qor::test {

struct MessageBoxCall {
  Window owner;
  std::string text;
  std::string caption;
  unsigned flags;
};

class FakeToolkit : public DialogView {
 public:
  using Action = std::function<void(FakeToolkit&, Window)>;

  FakeToolkit();
  ~FakeToolkit() override;

  DialogManager& manager() { return manager_; }

  // Scripted user: runs `action` on the owner thread each time a dialog of this template has been shown
  // (after its procedure handled MSG_INITDIALOG). Actions usually queue a click.
  void on_show(int template_id, Action action);
  // The user who agrees to everything: OK in the warning, the confirmations and the success window, and
  // `address` typed into the address dialog and confirmed.
  void agree_to_everything(const std::string& address);
  // Runs when a message box appears, on the thread that asked for it, before it "closes" with IDOK.
  void on_message_box(std::function<void(const MessageBoxCall&)> hook);

  void click(Window window, int id) { manager_.user_command(window, id); }
  void type(Window window, int id, const std::string& text) { manager_.user_set_text(window, id, text); }
  void select(Window window, int id, int index) { manager_.user_select(window, id, index); }

  // The nth (0-based) showing of a dialog of this template, waiting for it up to `timeout`.
  Window wait_for(int template_id, int nth = 0, std::chrono::milliseconds timeout = std::chrono::seconds(10));
  // The clean-up of a test that failed half-way and left a thread of the core in a window: Cancel in
  // every open window, as a user's would end it, until `ended` (or 10 s have passed).
  void cancel_until(const std::function<bool()>& ended);

  std::optional<WindowSnapshot> snapshot(Window w) const { return manager_.snapshot(w); }
  // The last state a window had, also after it was destroyed.
  WindowSnapshot last_state(Window w) const;
  std::vector<int> shown_templates() const;
  std::vector<MessageBoxCall> message_boxes() const;
  std::vector<std::string> events() const;  // "create 139", "show 139", "destroy 139", "box TEXT"
  std::vector<int> progress_positions(Window w) const;

  // DialogView
  PixelSize pixel_size(const DialogTemplate& tmpl) override;
  PixelSize screen_size() override { return screen_; }
  void on_create(Window, const DialogTemplate&, bool modal) override;
  void on_show(Window) override;
  void on_destroy(Window) override;
  void on_progress_pos(Window, int id, int pos) override;
  int message_box(Window owner, const std::string& text, const std::string& caption, unsigned flags) override;

  void set_screen(PixelSize size) { screen_ = size; }

 private:
  DialogManager manager_;
  PixelSize screen_{1024, 768};
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::map<int, Action> actions_;
  std::function<void(const MessageBoxCall&)> box_hook_;
  std::map<Window, int> template_of_;
  std::map<Window, WindowSnapshot> last_state_;
  std::map<Window, std::vector<int>> positions_;
  std::vector<std::pair<int, Window>> shown_;
  std::vector<MessageBoxCall> boxes_;
  std::vector<std::string> events_;
};

// Polls `condition` until it holds (true) or the time is up (false).
bool eventually(const std::function<bool()>& condition,
                std::chrono::milliseconds timeout = std::chrono::seconds(10));

// Installs a FakeToolkit as the process toolkit for the life of the object.
class ScopedFakeToolkit {
 public:
  ScopedFakeToolkit();
  ~ScopedFakeToolkit();
  FakeToolkit* operator->() { return &fake_; }
  FakeToolkit& operator*() { return fake_; }

 private:
  FakeToolkit fake_;
};

// A thread of the core that a test starts and waits for.
class CoreThread {
 public:
  explicit CoreThread(FakeToolkit& fake) : fake_(fake) {}
  ~CoreThread() { end(); }
  void start(std::function<Outcome()> body);
  Outcome finish();  // joins
  // A test that failed half-way may leave the thread in a window: Cancel, as a user would, then join.
  void end();
  bool done() const { return done_; }
  bool ended() const { return ended_; }  // by end_process (ProcessExit)

 private:
  FakeToolkit& fake_;
  std::thread thread_;
  Outcome outcome_ = Outcome::none;
  std::atomic<bool> done_{false};
  std::atomic<bool> ended_{false};
};

// Replaces end_process for the life of the object: the thread that ends the process throws ProcessExit
// instead, and the exit code is recorded.
class ExitTrap {
 public:
  ExitTrap();
  ~ExitTrap();
  bool ended() const;
  int code() const;
  bool wait(std::chrono::milliseconds timeout = std::chrono::seconds(10)) const;
};

// Records the trace lines from construction on, for the life of the object.
class TraceRecorder {
 public:
  TraceRecorder();
  ~TraceRecorder();
  static std::vector<std::string> lines();
};

}  // namespace qor::test
