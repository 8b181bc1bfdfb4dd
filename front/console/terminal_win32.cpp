// The terminal on Windows: the console's control events stand for the signals.
#include "front/console/terminal.h"

#include <condition_variable>
#include <cstdio>
#include <mutex>

#include "base/process.h"

#define WIN32_LEAN_AND_MEAN
#include <io.h>
#include <windows.h>

namespace qor::console {

namespace {

std::mutex events_mutex;
std::condition_variable events_changed;
int interrupts = 0;  // Ctrl-C presses not yet taken by the watcher
bool terminate_requested = false;
DWORD typing_shown = 0;

BOOL WINAPI on_console_event(DWORD event) {
  std::lock_guard lock(events_mutex);
  if (event == CTRL_C_EVENT)
    ++interrupts;
  else
    terminate_requested = true;  // Ctrl-Break, the console closed, logoff, shutdown
  events_changed.notify_all();
  return TRUE;
}

HANDLE input() {
  return GetStdHandle(STD_INPUT_HANDLE);
}

// True when a byte can be read from standard input without waiting (or the input has ended).
bool input_ready(int wait_ms) {
  HANDLE in = input();
  switch (GetFileType(in)) {
    case FILE_TYPE_CHAR:  // a console: a line is read once the user is typing one
      return WaitForSingleObject(in, static_cast<DWORD>(wait_ms)) == WAIT_OBJECT_0;
    case FILE_TYPE_PIPE: {
      DWORD available = 0;
      if (!PeekNamedPipe(in, nullptr, 0, nullptr, &available, nullptr)) return true;  // ended
      if (available > 0) return true;
      Sleep(static_cast<DWORD>(wait_ms));
      return false;
    }
    default:
      return true;
  }
}

}  // namespace

void hold_interrupts() {
  SetConsoleCtrlHandler(on_console_event, TRUE);
}

void watch_interrupts(const char* cancelling, const std::function<void()>& cancel,
                      const std::function<void()>& last_words) {
  int seen = 0;
  for (;;) {
    std::unique_lock lock(events_mutex);
    events_changed.wait(lock, [&] { return terminate_requested || interrupts > seen; });
    if (terminate_requested || interrupts > 1) {
      std::fprintf(stderr, "\nqor-upgrade-cli: interrupted\n");
      lock.unlock();
      if (last_words) last_words();
      end_process(1);
    }
    seen = interrupts;
    lock.unlock();
    std::fprintf(stderr, "\nqor-upgrade-cli: %s\n", cancelling);
    cancel();
  }
}

bool read_terminal_line(std::string& line, const std::function<bool()>& give_up, std::size_t limit) {
  line.clear();
  while (!give_up()) {
    if (!input_ready(50)) continue;
    char c = 0;
    DWORD n = 0;
    if (!ReadFile(input(), &c, 1, &n, nullptr) || n != 1) return false;
    if (c == '\n') return true;
    if (c != '\r' && line.size() < limit) line += c;
  }
  return false;
}

bool is_terminal(std::FILE* stream) {
  // Not _isatty: it is true for any character device, NUL among them.
  DWORD mode = 0;
  return GetConsoleMode(reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream))), &mode) != 0;
}

void pause_own_console() {
  static bool paused = false;
  DWORD processes[2];
  DWORD mode = 0;
  {
    std::lock_guard lock(events_mutex);
    if (paused || terminate_requested) return;  // the window is closing already
    paused = true;
  }
  // Only this program on the console: nobody started it from a command prompt.
  if (GetConsoleProcessList(processes, 2) != 1 || !GetConsoleMode(input(), &mode)) return;
  std::fflush(stdout);
  std::fputs("\nPress a key to close this window.\n", stderr);
  FlushConsoleInputBuffer(input());
  INPUT_RECORD record;
  DWORD n = 0;
  while (ReadConsoleInputA(input(), &record, 1, &n) && n == 1)
    if (record.EventType == KEY_EVENT && record.Event.KeyEvent.bKeyDown) break;
}

bool terminal_size(std::FILE* out, int& rows, int& columns) {
  CONSOLE_SCREEN_BUFFER_INFO info;
  HANDLE h = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(out)));
  if (!GetConsoleScreenBufferInfo(h, &info)) return false;
  rows = info.srWindow.Bottom - info.srWindow.Top + 1;
  columns = info.srWindow.Right - info.srWindow.Left + 1;
  return rows > 0 && columns > 0;
}

bool hide_typing() {
  if (!GetConsoleMode(input(), &typing_shown)) return false;
  return SetConsoleMode(input(), typing_shown & ~static_cast<DWORD>(ENABLE_ECHO_INPUT)) != 0;
}

void show_typing() {
  SetConsoleMode(input(), typing_shown);
}

}  // namespace qor::console
