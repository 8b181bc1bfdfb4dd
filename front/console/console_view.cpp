#include "front/console/console_view.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "base/process.h"
#include "base/text.h"
#include "front/console/terminal.h"
#include "net/clock.h"
#include "ui/dialog_templates.h"
#include "ui/texts.h"

namespace qor::console {

namespace {

std::string item_text(const WindowSnapshot& s, int id) {
  auto it = s.controls.find(id);
  return it == s.controls.end() ? std::string() : it->second.text;
}

// The dialog texts carry Windows line breaks.
std::string plain(std::string text) {
  text.erase(std::remove(text.begin(), text.end(), '\r'), text.end());
  return text;
}

std::string first_word(const std::string& s) {
  return s.substr(0, s.find(' '));
}

// Breaks the long lines of a text at blanks so that they fit a terminal.
std::string wrap(const std::string& text, std::size_t width) {
  std::string out;
  std::size_t column = 0;
  std::size_t i = 0;
  while (i < text.size()) {
    if (text[i] == '\n' || text[i] == '\r') {
      out += text[i++];
      column = 0;
      continue;
    }
    std::size_t end = text.find_first_of(" \r\n", i);
    if (end == std::string::npos) end = text.size();
    std::size_t word = end - i;
    if (column > 0 && column + 1 + word > width) {
      out += '\n';
      column = 0;
    } else if (column > 0) {
      out += ' ';
      ++column;
    }
    out.append(text, i, word);
    column += word;
    i = end;
    while (i < text.size() && text[i] == ' ')
      ++i;
  }
  return out;
}

}  // namespace

ConsoleView::ConsoleView(Answers answers, std::FILE* out, bool tty)
    : manager_(*this), answers_(std::move(answers)), out_(out), tty_(tty) {}

bool ConsoleView::usage_failed() const {
  std::lock_guard lock(mutex_);
  return usage_failed_;
}

void ConsoleView::print_text(const std::string& text) {
  std::lock_guard lock(mutex_);
  if (line_open_) {
    std::fputc('\n', out_);
    line_open_ = false;
  }
  std::fprintf(out_, "%s\n", plain(text).c_str());
  std::fflush(out_);
}

void ConsoleView::end_progress_line() {
  std::lock_guard lock(mutex_);
  if (line_open_) {
    std::fputc('\n', out_);
    std::fflush(out_);
    line_open_ = false;
  }
}

void ConsoleView::usage_error(const std::string& message) {
  end_progress_line();
  {
    std::lock_guard lock(mutex_);
    usage_failed_ = true;
  }
  std::fprintf(stderr, "qor-upgrade-cli: %s\n", message.c_str());
  end_process(2);
}

bool ConsoleView::ask_yes_no(const char* question) {
  std::string answer = ask_line(question, false);
  return answer == "y" || answer == "Y" || answer == "yes";
}

std::string ConsoleView::ask_line(const char* question, bool hide) {
  end_progress_line();
  std::fprintf(out_, "%s", question);
  std::fflush(out_);
  const bool hidden = hide && hide_typing();
  std::string line;
  const bool got = read_terminal_line(line, [this] { return manager_.cancelling(); });
  if (hidden) {
    show_typing();
    std::fputc('\n', out_);
  }
  if (!got) return "\x04";  // end of input or Ctrl-C: the user gave up
  return line;
}

void ConsoleView::on_show(Window window) {
  auto s = manager_.snapshot(window);
  if (!s) return;
  switch (s->template_id) {
    case IDD_WARNING:
      return show_warning(*s);
    case IDD_ADDRESS:
    case IDD_ADDRESS_PHONE:
      return show_address(*s);
    case IDD_PASSWORD:
      return show_password(*s);
    case IDD_CONFIRM:
    case IDD_CONFIRM_TRANSITION:
      return show_confirm(*s);
    case IDD_SUCCESS:
      return show_success(*s);
    case IDD_WAITING:
      return show_waiting(*s);
    default:
      break;
  }
  // Windows that only show progress: the connecting window (an activity bar, not drawn) and the
  // upload window.
  print_text(s->title + " ...");
  if (s->template_id != IDD_UPLOAD) return;
  std::lock_guard lock(mutex_);
  bar_window_ = window;
  bar_title_ = s->title;
  auto bar = s->controls.find(IDC_PROGRESS);
  if (bar != s->controls.end()) {
    bar_low_ = bar->second.range_low;
    bar_high_ = bar->second.range_high;
  }
  last_bar_percent_ = -1;
}

void ConsoleView::on_destroy(Window window) {
  bool was_bar;
  {
    std::lock_guard lock(mutex_);
    was_bar = window == bar_window_;
    if (was_bar) bar_window_ = Window::none;
  }
  if (was_bar) end_progress_line();
}

void ConsoleView::on_title(Window window, const std::string& title) {
  bool new_phase;
  {
    std::lock_guard lock(mutex_);
    if (window != bar_window_) return;
    new_phase = first_word(title) != first_word(bar_title_);
    bar_title_ = title;
    if (new_phase) last_bar_percent_ = -1;
    // The bar moves before the title counts the bytes: the finished line shows the final count.
    if (!new_phase && tty_ && line_open_ && last_bar_percent_ == 100) {
      render_bar_line(100, "");
      std::fflush(out_);
    }
  }
  if (new_phase) print_text(title + " ...");
}

void ConsoleView::on_progress_range(Window window, int, int low, int high) {
  std::lock_guard lock(mutex_);
  if (window != bar_window_) return;
  if (line_open_) {  // a new phase: the finished bar stays as it ended
    std::fputc('\n', out_);
    line_open_ = false;
  }
  bar_low_ = low;
  bar_high_ = high;
  bar_range_ms_ = time_get_time();
  last_bar_percent_ = -1;
}

void ConsoleView::on_progress_pos(Window window, int, int pos) {
  draw_bar(window, pos);
}

// Caller holds mutex_.
void ConsoleView::render_bar_line(int percent, const std::string& note) {
  constexpr int width = 40;
  char bar[width + 1];
  int filled = percent * width / 100;
  for (int i = 0; i < width; ++i)
    bar[i] = i < filled ? '#' : '.';
  bar[width] = '\0';
  std::fprintf(out_, "\r  [%s] %3d%%  %s%s\x1b[K", bar, percent, bar_title_.c_str(), note.c_str());
  line_open_ = true;
}

void ConsoleView::draw_bar(Window window, int pos) {
  std::lock_guard lock(mutex_);
  if (window != bar_window_ || bar_high_ <= bar_low_) return;
  int percent = static_cast<int>(100LL * (pos - bar_low_) / (bar_high_ - bar_low_));
  percent = std::clamp(percent, 0, 100);
  // A phase starts at 0 before its title is set; its header line stands for the empty bar.
  if (percent == last_bar_percent_ || percent == 0) return;
  // The wait while the QOR writes the image runs on the clock: its bar tells the time left.
  std::string note;
  const unsigned now = time_get_time();
  if (first_word(bar_title_) == "Updating" && pos > bar_low_ && pos < bar_high_) {
    const long long left_ms = 1LL * (now - bar_range_ms_) * (bar_high_ - pos) / (pos - bar_low_);
    note = " (" + std::to_string((left_ms + 999) / 1000) + " s left)";
  }
  if (tty_) {
    if (percent != 100 && last_bar_percent_ >= 0 && now - last_bar_ms_ < 100) return;
    last_bar_ms_ = now;
    render_bar_line(percent, note);
  } else {
    // Sparse lines for logs: every tenth of the way.
    if (last_bar_percent_ >= 0 && percent / 10 == last_bar_percent_ / 10) {
      last_bar_percent_ = percent;
      return;
    }
    std::fprintf(out_, "  %3d%%  %s%s\n", percent, bar_title_.c_str(), note.c_str());
  }
  std::fflush(out_);
  last_bar_percent_ = percent;
}

int ConsoleView::message_box(Window owner, const std::string& text, const std::string& caption, unsigned) {
  end_progress_line();
  std::fprintf(stderr, "%s: %s\n", caption.c_str(), plain(text).c_str());
  std::fflush(stderr);
  if (owner != Window::none && text == texts::NO_LOCAL_ADDRESS) {
    // Nothing typed here can mend it: the address dialog is given up, as its Cancel would.
    manager_.user_command(owner, IDCANCEL);
  } else if (owner != Window::none && text == texts::INVALID_ADDRESS) {
    // The address dialog stays open: answer it again, or give up when the address came from options.
    if (!answers_.interactive) usage_error("--device: not a valid IPv4 address of a QOR");
    std::string again = ask_line("IP address of your QOR: ", false);
    if (again == "\x04") {
      manager_.user_command(owner, IDCANCEL);
    } else {
      device_address_ = again;
      manager_.user_set_text(owner, address_ids::ADDRESS, again);
      manager_.user_command(owner, IDOK);
    }
  }
  return IDOK;
}

void ConsoleView::show_warning(const WindowSnapshot& s) {
  print_text(s.title + "\n\n" + item_text(s, warning_ids::TEXT) + "\n");
  bool go = answers_.yes || (answers_.interactive && ask_yes_no("Continue? [y/N] "));
  if (!go && !answers_.interactive) usage_error("the warning needs an answer: give --yes");
  manager_.user_command(s.window, go ? IDOK : IDCANCEL);
}

void ConsoleView::show_address(const WindowSnapshot& s) {
  print_text(s.title + "\n" + item_text(s, address_ids::INTRO) + " " + item_text(s, address_ids::VERSION));
  const ControlState& list = s.controls.at(address_ids::LOCAL_ADDRESSES);
  int pick = list.selection;
  if (answers_.local_address) {
    auto it = std::find(list.items.begin(), list.items.end(), *answers_.local_address);
    if (it == list.items.end()) {
      std::string known;
      for (const std::string& a : list.items)
        known += (known.empty() ? "" : ", ") + a;
      usage_error("--local-address " + *answers_.local_address + " is not an address of this PC (" +
                  (known.empty() ? std::string("it has none") : "its addresses: " + known) + ")");
    }
    pick = static_cast<int>(it - list.items.begin());
    manager_.user_select(s.window, address_ids::LOCAL_ADDRESSES, pick);
  } else if (answers_.interactive && list.items.size() > 1) {
    pick = ask_local_address(list);
    if (pick < 0) return manager_.user_command(s.window, IDCANCEL);
    manager_.user_select(s.window, address_ids::LOCAL_ADDRESSES, pick);
  }
  if (pick >= 0) print_text("Your IP Address: " + list.items[pick]);
  std::string device;
  if (answers_.device) {
    device = *answers_.device;
  } else if (answers_.interactive) {
    print_text(item_text(s, address_ids::HELP));
    device = ask_line("IP address of your QOR: ", false);
    if (device == "\x04") return manager_.user_command(s.window, IDCANCEL);
  } else {
    usage_error("the address of the QOR is missing: give --device ADDR");
  }
  device_address_ = device;
  manager_.user_set_text(s.window, address_ids::ADDRESS, device);
  manager_.user_command(s.window, IDOK);
}

// The list of the address dialog, as a numbered choice; -1 when the user gave up.
int ConsoleView::ask_local_address(const ControlState& list) {
  std::string text = "Your IP Address (the QOR fetches the firmware from it):";
  for (std::size_t i = 0; i < list.items.size(); ++i)
    text += "\n  " + std::to_string(i + 1) + ") " + list.items[i];
  print_text(text);
  const int preset = std::max(list.selection, 0);
  for (;;) {
    std::string answer = ask_line(("Your IP Address [" + std::to_string(preset + 1) + "]: ").c_str(), false);
    if (answer == "\x04") return -1;
    if (answer.empty()) return preset;
    char* end = nullptr;
    unsigned long n = std::strtoul(answer.c_str(), &end, 10);
    if (*end == '\0' && n >= 1 && n <= list.items.size()) return static_cast<int>(n - 1);
    auto it = std::find(list.items.begin(), list.items.end(), answer);
    if (it != list.items.end()) return static_cast<int>(it - list.items.begin());
    print_text("Give a number from 1 to " + std::to_string(list.items.size()) + ", or one of the addresses.");
  }
}

void ConsoleView::show_password(const WindowSnapshot& s) {
  int attempt;
  {
    std::lock_guard lock(mutex_);
    attempt = password_attempts_++;
  }
  if (attempt == 0) print_text(s.title + "\n\n" + item_text(s, password_ids::HELP) + "\n");
  // The dialog presets the user name; a terminal user may change it, as in the dialog.
  std::string user = answers_.user.value_or(item_text(s, password_ids::USERNAME));
  std::string password;
  if (answers_.password && attempt == 0) {
    password = *answers_.password;
  } else if (answers_.interactive) {
    if (attempt > 0) print_text("The QOR did not accept the user name and password.");
    if (!answers_.user) {
      std::string typed = ask_line(("User [" + user + "]: ").c_str(), false);
      if (typed == "\x04") return manager_.user_command(s.window, IDCANCEL);
      if (!typed.empty()) user = typed;
    }
    password = ask_line(("Password for " + user + ": ").c_str(), true);
    if (password == "\x04") return manager_.user_command(s.window, IDCANCEL);
  } else if (answers_.password) {
    print_text("The QOR did not accept the user name and the password of --password-file.");
    return manager_.user_command(s.window, IDCANCEL);
  } else {
    usage_error("the QOR asks for a password: give --password-file FILE");
  }
  manager_.user_set_text(s.window, password_ids::USERNAME, user);
  manager_.user_set_text(s.window, password_ids::PASSWORD, password);
  manager_.user_command(s.window, IDOK);
}

void ConsoleView::show_confirm(const WindowSnapshot& s) {
  static constexpr struct {
    int id;
    const char* label;
  } fields[] = {{confirm_ids::SERIAL_NUMBER, "Serial Number"},
                {confirm_ids::MAC_ADDRESS, "MAC Address"},
                {confirm_ids::SOFTWARE_VERSION, "Software Version"},
                {confirm_ids::HARDWARE_VERSION, "Hardware Version"},
                {confirm_ids::PRODUCT_NAME, "Product Name"}};
  std::string text = s.title + "\n\n" + item_text(s, confirm_ids::TEXT) + "\n";
  text += "        IP Address  " + visible_text(device_address_) + "\n";  // which QOR: the one named
  for (const auto& f : fields) {
    char label[24];
    std::snprintf(label, sizeof label, "  %16s  ", f.label);
    text += label + visible_text(item_text(s, f.id)) + "\n";
  }
  print_text(text);
  bool go = answers_.yes || (answers_.interactive && ask_yes_no("Upgrade? [y/N] "));
  if (!go && !answers_.interactive) usage_error("the upgrade needs confirming: give --yes");
  manager_.user_command(s.window, go ? IDOK : IDCANCEL);
}

void ConsoleView::show_success(const WindowSnapshot& s) {
  print_text(s.title + "\n" + item_text(s, success_ids::TEXT) + "\n  " +
             visible_text(item_text(s, success_ids::VERSION)));
  manager_.user_command(s.window, IDOK);
}

void ConsoleView::show_waiting(const WindowSnapshot& s) {
  print_text(s.title + " ...");
}

void ConsoleView::on_text(Window window, int id, const std::string& text) {
  // The waiting window's explanation is filled in once it is up.
  if (id != waiting_ids::TEXT || text.empty()) return;
  auto s = manager_.snapshot(window);
  if (!s || s->template_id != IDD_WAITING) return;
  {
    std::lock_guard lock(mutex_);
    if (waiting_text_shown_) return;
    waiting_text_shown_ = true;
  }
  print_text(wrap(text, 78) + "\n");
}

}  // namespace qor::console
