// The desktop program's first steps on the real dialogs: the sequence runs on the main thread with the
// Win32 backend while a driver thread acts as the user. It presses Continue in the warning dialog,
// presses OK on the empty address field (which must be refused), types 127.0.0.1 into it key by key and
// presses OK; the status request, a fake here, must then be asked of that address. Then, each in a run
// of its own: 127.0.0.600 and a PC without a network address are refused with their reasons and nothing
// is asked of any device; and Return typed into a window that opened by itself presses nothing there.
// Exit status 0 passed, 1 failed, 77 no display.
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "app/upgrade.h"
#include "base/text.h"
#include "front/win32/win32_toolkit.h"
#include "ui/control_ids.h"

#include "front/win32/windows_api.h"  // last

namespace {

constexpr DWORD DRIVER_TIME_LIMIT_MS = 60000;
constexpr std::uint32_t LOOPBACK = 0x7F000001;  // 127.0.0.1: the only kind of address a test may type

struct SeenRequest {
  std::mutex mutex;
  int calls = 0;
  qor::RequestJob job{};
  std::string path;
};
SeenRequest seen;

qor::RequestResult fake_request(qor::UpgradeRun&, const qor::RequestJob& job, qor::DeviceInfo&) {
  std::lock_guard lock(seen.mutex);
  ++seen.calls;
  seen.job = job;
  seen.path = job.path != nullptr ? job.path : "";
  return {qor::Outcome::none, 0};  // the device did not answer
}

qor::Outcome fake_listener(qor::UpgradeRun&, std::uint16_t&) {
  return qor::Outcome::listener_bind_failed;  // not reached: the status request fails first
}

[[noreturn]] void give_up(const char* step) {
  std::printf("FAILED: %s\n", step);
  std::fflush(stdout);
  ExitProcess(1);
}

// A visible dialog (message boxes are dialogs too) with a control `control_id` and, when given, this
// caption.
struct Search {
  int control_id;
  const char* caption;
  HWND found;
};

BOOL CALLBACK match_dialog(HWND hwnd, LPARAM lparam) {
  auto* search = reinterpret_cast<Search*>(lparam);
  char name[16] = "", caption[64] = "";
  GetClassNameA(hwnd, name, sizeof name);
  GetWindowTextA(hwnd, caption, sizeof caption);
  if (std::strcmp(name, "#32770") != 0 || !IsWindowVisible(hwnd)) return TRUE;
  if (GetDlgItem(hwnd, search->control_id) == nullptr) return TRUE;
  if (search->caption != nullptr && std::strcmp(caption, search->caption) != 0) return TRUE;
  search->found = hwnd;
  return FALSE;
}

// The dialog of `thread` that matches; gives up at the deadline.
HWND wait_for_dialog(DWORD thread, int control_id, DWORD deadline, const char* what,
                     const char* caption = nullptr) {
  while (GetTickCount() < deadline) {
    Search search{control_id, caption, nullptr};
    EnumThreadWindows(thread, match_dialog, reinterpret_cast<LPARAM>(&search));
    if (search.found != nullptr) return search.found;
    Sleep(20);
  }
  give_up(what);
}

HWND focus_of(DWORD thread) {
  GUITHREADINFO info{};
  info.cbSize = sizeof info;
  return GetGUIThreadInfo(thread, &info) ? info.hwndFocus : nullptr;
}

// One key as the keyboard gives it: down and up, through the owner's message loop, which translates it
// into the character.
void press_key(DWORD thread, char c) {
  HWND target = focus_of(thread);
  const WPARAM key = c == '.' ? VK_OEM_PERIOD : static_cast<WPARAM>(c);
  const UINT scan = MapVirtualKeyA(static_cast<UINT>(key), MAPVK_VK_TO_VSC);
  PostMessageA(target, WM_KEYDOWN, key, 1 | (scan << 16));
  PostMessageA(target, WM_KEYUP, key, 1 | (scan << 16) | (3u << 30));
  Sleep(60);  // until the field has taken it: the focus may move on to the next field
}

// The dialog puts the focus into the address field (one of its four parts) when it opens, and back
// there after refusing an address.
void wait_for_focus(DWORD thread, HWND field, DWORD deadline) {
  for (HWND f = focus_of(thread); f != field && !IsChild(field, f); f = focus_of(thread)) {
    if (GetTickCount() >= deadline) give_up("the focus is not in the address field");
    Sleep(20);
  }
}

qor::UpgradeRun& run_of_test() {
  static qor::UpgradeRun run;
  return run;
}
std::string empty_field_text = "(not read)";

int requests_seen() {
  std::lock_guard lock(seen.mutex);
  return seen.calls;
}

// One key through the system's input, as the keyboard gives it: to whichever window has the keyboard.
void type_key(WORD key) {
  INPUT input[2] = {};
  input[0].type = input[1].type = INPUT_KEYBOARD;
  input[0].ki.wVk = input[1].ki.wVk = key;
  input[1].ki.dwFlags = KEYEVENTF_KEYUP;
  SendInput(2, input, sizeof(INPUT));
  Sleep(100);
}

// Continue in the warning; the address dialog, once its field has the keyboard.
HWND past_the_warning(DWORD sequence_thread, DWORD deadline) {
  HWND warning = wait_for_dialog(sequence_thread, qor::warning_ids::TEXT, deadline, "no warning dialog");
  PostMessageA(GetDlgItem(warning, IDOK), BM_CLICK, 0, 0);
  HWND address = wait_for_dialog(sequence_thread, qor::address_ids::ADDRESS, deadline, "no address dialog");
  wait_for_focus(sequence_thread, GetDlgItem(address, qor::address_ids::ADDRESS), deadline);
  return address;
}

// Continue in the warning, `typed` key by key into the address field and OK; the box that refuses it
// is read and closed, and the address dialog cancelled.
std::string refusal_text = "(no box)";
void drive_refused(DWORD sequence_thread, const char* typed, qor::UpgradeRun* run) {
  const int requests_at_start = requests_seen();
  const DWORD deadline = GetTickCount() + DRIVER_TIME_LIMIT_MS;
  HWND address = past_the_warning(sequence_thread, deadline);
  HWND field = GetDlgItem(address, qor::address_ids::ADDRESS);
  for (const char* c = typed; *c != '\0'; ++c)
    type_key(*c == '.' ? VK_OEM_PERIOD : static_cast<WORD>(*c));
  PostMessageA(GetDlgItem(address, IDOK), BM_CLICK, 0, 0);
  HWND refusal = nullptr;
  while (refusal == nullptr) {
    if (requests_seen() > requests_at_start || GetTickCount() >= deadline) {
      std::printf("%s typed: the sequence read \"%s\" and went on\n", typed, run->device_address_text);
      give_up("no refusal");
    }
    Search search{IDOK, "Error", nullptr};
    EnumThreadWindows(sequence_thread, match_dialog, reinterpret_cast<LPARAM>(&search));
    refusal = search.found;
    Sleep(20);
  }
  char text[512] = "";
  GetDlgItemTextA(refusal, 0xFFFF, text, sizeof text);  // a message box's text has the id -1
  refusal_text = text;
  PostMessageA(GetDlgItem(refusal, IDOK), BM_CLICK, 0, 0);
  wait_for_focus(sequence_thread, field, deadline);
  PostMessageA(GetDlgItem(address, IDCANCEL), BM_CLICK, 0, 0);
}

std::vector<int> commands_seen;  // the progress window's thread only
std::intptr_t recording_proc(qor::Window, unsigned message, std::uintptr_t wparam, std::intptr_t) {
  if (message == qor::MSG_COMMAND) commands_seen.push_back(static_cast<int>(wparam & 0xFFFF));
  return message == qor::MSG_INITDIALOG ? 1 : 0;
}

void drive(DWORD sequence_thread) {
  const DWORD deadline = GetTickCount() + DRIVER_TIME_LIMIT_MS;
  HWND address = past_the_warning(sequence_thread, deadline);
  HWND field = GetDlgItem(address, qor::address_ids::ADDRESS);

  // OK on the empty field: the program must refuse what the field gives, and keep the dialog open.
  PostMessageA(GetDlgItem(address, IDOK), BM_CLICK, 0, 0);
  HWND refusal = wait_for_dialog(sequence_thread, IDOK, deadline, "no refusal of the empty field", "Error");
  empty_field_text = run_of_test().device_address_text;  // the sequence waits in the box meanwhile
  PostMessageA(GetDlgItem(refusal, IDOK), BM_CLICK, 0, 0);
  wait_for_focus(sequence_thread, field, deadline);

  for (char c : std::string("127.0.0.1"))
    press_key(sequence_thread, c);
  PostMessageA(GetDlgItem(address, IDOK), BM_CLICK, 0, 0);

  // Either the sequence goes on to the status request, or an "Invalid IP Address" box opens.
  while (GetTickCount() < deadline) {
    {
      std::lock_guard lock(seen.mutex);
      if (seen.calls > 0) return;
    }
    Sleep(20);
  }
  char text[64] = "";
  GetDlgItemTextA(address, qor::address_ids::ADDRESS, text, sizeof text);
  std::printf("address field holds \"%s\"\n", text);
  give_up("the status request was never made");
}

bool display_available() {
  HWND probe = CreateWindowExA(0, "STATIC", "", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
  if (probe == nullptr) return false;
  DestroyWindow(probe);
  return GetSystemMetrics(SM_CXSCREEN) > 0;
}

int failures = 0;

void expect(bool ok, const char* what) {
  std::printf("%s: %s\n", ok ? "ok" : "FAILED", what);
  if (!ok) ++failures;
}

}  // namespace

bool contains(const std::string& text, const char* part) {
  return text.find(part) != std::string::npos;
}

// A refused address: the run ends declined, with the reason in the box and no request made.
void expect_refused(const char* typed, std::uint32_t local_address, const char* reason) {
  static qor::UpgradeRun runs[2];
  static int used = 0;
  qor::UpgradeRun& run = runs[used++];
  qor::copy_text(run.product_display_name, sizeof run.product_display_name, "QOR-4710");
  run.local_addresses[0] = local_address;
  const int requests_before = requests_seen();
  std::thread driver(drive_refused, GetCurrentThreadId(), typed, &run);
  const qor::SequenceOperations fakes{fake_request, fake_listener};
  qor::Outcome outcome = qor::run_upgrade_sequence(run, fakes);
  driver.join();
  std::printf("typed %s: the box says \"%s\"\n", typed, refusal_text.c_str());
  expect(contains(refusal_text, reason), reason);
  expect(outcome == qor::Outcome::declined && run.device_address == 0, "nothing confirmed");
  expect(requests_seen() == requests_before, "nothing asked of any device");
}

// Keeps the window's messages flowing for `ms` while `typist` types on a thread of its own.
void pump_while_typing(qor::Window w, DWORD ms, void (*typist)()) {
  std::thread keys(typist);
  const DWORD until = GetTickCount() + ms;
  while (GetTickCount() < until) {
    qor::toolkit().pump_all(w);
    Sleep(10);
  }
  keys.join();
}

// Return typed into a window that opened by itself (an upload window here) presses nothing; Tab then
// Space still reach its Cancel.
void expect_return_ignored_by_progress_window() {
  commands_seen.clear();
  qor::Window w = qor::toolkit().create_dialog(qor::IDD_UPLOAD, recording_proc);
  HWND hwnd = reinterpret_cast<HWND>(static_cast<std::uintptr_t>(w));
  SetForegroundWindow(hwnd);
  pump_while_typing(w, 1500, [] {
    Sleep(300);
    type_key(VK_RETURN);
    type_key(VK_RETURN);
    type_key(VK_SPACE);
  });
  HWND focus = focus_of(GetCurrentThreadId());
  expect(SendMessageA(hwnd, WM_GETICON, ICON_SMALL, 0) != 0, "the window shows the program's icon");
  expect(commands_seen.empty(), "Return and Space typed ahead press nothing in a progress window");
  expect(focus == nullptr || focus == hwnd, "no button of a progress window has the keyboard");
  pump_while_typing(w, 1000, [] {
    type_key(VK_TAB);
    type_key(VK_SPACE);
  });
  expect(commands_seen == std::vector<int>{IDCANCEL}, "Tab then Space presses Cancel");
  qor::toolkit().destroy_window(w);
}

int main() {
  if (!display_available()) {
    std::puts("no display: skipped");
    return 77;
  }
  INITCOMMONCONTROLSEX classes{sizeof classes, ICC_PROGRESS_CLASS | ICC_INTERNET_CLASSES};
  InitCommonControlsEx(&classes);
  qor::win32::Win32Toolkit toolkit;
  toolkit.set_window_icon(qor::IDI_ADAPTER);
  qor::set_toolkit(&toolkit);

  qor::UpgradeRun& run = run_of_test();
  qor::copy_text(run.product_display_name, sizeof run.product_display_name, "QOR-4710");
  run.local_addresses[0] = LOOPBACK;

  std::thread driver(drive, GetCurrentThreadId());
  const qor::SequenceOperations fakes{fake_request, fake_listener};
  qor::Outcome outcome = qor::run_upgrade_sequence(run, fakes);
  driver.join();

  std::printf("empty address field read as \"%s\", typed address as \"%s\"\n", empty_field_text.c_str(),
              run.device_address_text);
  expect(outcome == qor::Outcome::no_response, "the sequence ends with no response from the device");
  expect(run.device_address == LOOPBACK, "the program read 127.0.0.1 from the address field");
  {
    std::lock_guard lock(seen.mutex);
    expect(seen.calls == 1, "exactly one status request");
    expect(seen.job.remote_address == LOOPBACK && seen.job.remote_port == 80,
           "the status request goes to 127.0.0.1, port 80");
    expect(seen.job.bind_address == LOOPBACK, "from the local address picked in the list");
    expect(seen.path == qor::STATUS_PAGE_PATH, "for the status page");
  }

  expect_refused("127.0.0.600", LOOPBACK, "Invalid IP Address");  // never 127.0.0.60 or 127.0.0.255
  expect_refused("127.0.0.1", 0, "This PC has no address on a network");
  expect_return_ignored_by_progress_window();
  qor::set_toolkit(nullptr);
  return failures == 0 ? 0 : 1;
}
