// The console backend: draws the dialogs in a terminal and answers them from options or, on a
// terminal, from the user at a prompt.
#pragma once

#include <cstdio>
#include <mutex>
#include <optional>
#include <string>

#include "ui/dialog_manager.h"

namespace qor::console {

struct Answers {
  std::optional<std::string> device;         // typed into the address field
  std::optional<std::string> local_address;  // the entry of the local address list to pick
  std::optional<std::string> user;           // typed into the user field (the dialog presets admin)
  std::optional<std::string> password;       // from --password-file
  bool yes = false;                          // Continue and Upgrade
  bool interactive = false;                  // questions no option answers go to the user
};

class ConsoleView : public DialogView {
 public:
  ConsoleView(Answers answers, std::FILE* out, bool tty);

  DialogManager& manager() { return manager_; }
  // True once a question that no option answered has ended the run (exit status 2).
  bool usage_failed() const;

  PixelSize pixel_size(const DialogTemplate& tmpl) override {
    return {tmpl.width * 3 / 2, tmpl.height * 13 / 8};
  }
  PixelSize screen_size() override { return {1024, 768}; }
  void on_create(Window, const DialogTemplate&, bool) override {}
  void on_show(Window window) override;
  void on_destroy(Window window) override;
  void on_title(Window window, const std::string& title) override;
  void on_text(Window window, int id, const std::string& text) override;
  void on_progress_range(Window window, int id, int low, int high) override;
  void on_progress_pos(Window window, int id, int pos) override;
  int message_box(Window owner, const std::string& text, const std::string& caption, unsigned flags) override;

 private:
  void show_warning(const WindowSnapshot& s);
  void show_address(const WindowSnapshot& s);
  void show_password(const WindowSnapshot& s);
  void show_confirm(const WindowSnapshot& s);
  void show_success(const WindowSnapshot& s);
  void show_waiting(const WindowSnapshot& s);
  bool ask_yes_no(const char* question);
  std::string ask_line(const char* question, bool hide);
  int ask_local_address(const ControlState& list);
  void usage_error(const std::string& message);
  void print_text(const std::string& text);
  void end_progress_line();
  void draw_bar(Window window, int pos);
  void render_bar_line(int percent, const std::string& note);

  DialogManager manager_;
  Answers answers_;
  std::FILE* out_;
  bool tty_;
  mutable std::mutex mutex_;
  bool usage_failed_ = false;
  int password_attempts_ = 0;
  std::string device_address_;  // as the address dialog was last answered
  bool waiting_text_shown_ = false;
  Window bar_window_ = Window::none;  // the window whose bar is on the current line
  std::string bar_title_;
  int bar_low_ = 0, bar_high_ = 100;
  int last_bar_percent_ = -1;
  unsigned last_bar_ms_ = 0;
  unsigned bar_range_ms_ = 0;  // when the bar got its range: the start of its phase
  bool line_open_ = false;
};

}  // namespace qor::console
