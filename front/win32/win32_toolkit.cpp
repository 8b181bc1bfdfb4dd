#include "front/win32/win32_toolkit.h"

#include <cstdio>
#include <cstring>
#include <vector>

#include "ui/dialog_templates.h"
#include "ui/dialogs.h"

#include "front/win32/windows_api.h"  // last

namespace qor::win32 {

namespace {

HWND to_hwnd(Window window) {
  return reinterpret_cast<HWND>(static_cast<std::uintptr_t>(window));
}

Window to_window(HWND hwnd) {
  return static_cast<Window>(reinterpret_cast<std::uintptr_t>(hwnd));
}

// The class of a control in a dialog template: one of the predefined atoms, or a registered name.
constexpr WORD BUTTON_ATOM = 0x0080;
constexpr WORD EDIT_ATOM = 0x0081;
constexpr WORD STATIC_ATOM = 0x0082;
constexpr WORD COMBOBOX_ATOM = 0x0085;

// What a dialog template names a control's class and caption with: an atom or resource number after
// 0xFFFF, or a string.
struct TemplateName {
  WORD ordinal = 0;
  const char* text = "";
};

DWORD control_style(const ControlTemplate& c) {
  DWORD style = WS_CHILD | WS_VISIBLE;
  const DWORD tab = (c.flags & CF_NO_TABSTOP) ? 0 : WS_TABSTOP;
  switch (c.kind) {
    case ControlKind::button:
      return style | tab | ((c.flags & CF_DEFAULT) ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON);
    case ControlKind::text:
      // A multi-line edit wraps its lines unless it scrolls sideways; the texts bring their own breaks.
      return style | tab | ES_MULTILINE | ES_READONLY | ES_AUTOHSCROLL;
    case ControlKind::line:
    case ControlKind::field:
      style |= tab | ES_READONLY | ES_AUTOHSCROLL;
      if (c.kind == ControlKind::field) style |= WS_BORDER;
      if (c.flags & CF_ALIGN_CENTER) style |= ES_CENTER;
      if (c.flags & CF_ALIGN_RIGHT) style |= ES_RIGHT;
      return style;
    case ControlKind::edit:
      return style | tab | WS_BORDER | ES_AUTOHSCROLL | ((c.flags & CF_PASSWORD) ? ES_PASSWORD : 0);
    case ControlKind::list:
      return style | tab | WS_VSCROLL | CBS_DROPDOWNLIST;
    case ControlKind::label:
      if (c.flags & CF_ALIGN_RIGHT) return style | SS_RIGHT;
      if (c.flags & CF_ALIGN_CENTER) return style | SS_CENTER;
      return style | SS_LEFT;
    case ControlKind::icon:
      return style | SS_ICON;
    case ControlKind::address:
      return style | tab;
    case ControlKind::bar:
      return style | WS_BORDER;
  }
  return style;
}

TemplateName control_class(ControlKind kind) {
  switch (kind) {
    case ControlKind::button:
      return {BUTTON_ATOM};
    case ControlKind::text:
    case ControlKind::line:
    case ControlKind::field:
    case ControlKind::edit:
      return {EDIT_ATOM};
    case ControlKind::list:
      return {COMBOBOX_ATOM};
    case ControlKind::label:
    case ControlKind::icon:
      return {STATIC_ATOM};
    case ControlKind::address:
      return {0, WC_IPADDRESSA};
    case ControlKind::bar:
      return {0, PROGRESS_CLASSA};
  }
  return {STATIC_ATOM};
}

// Writes a DLGTEMPLATE with DS_SETFONT and its DLGITEMTEMPLATEs, in the layout the dialog functions
// read: WORDs, wide strings, each item on a DWORD boundary.
class TemplateWriter {
 public:
  std::vector<DWORD> finish() {
    align();
    std::vector<DWORD> out(bytes_.size() / sizeof(DWORD));
    std::memcpy(out.data(), bytes_.data(), bytes_.size());
    return out;
  }
  void dword(DWORD v) {
    word(static_cast<WORD>(v & 0xFFFF));
    word(static_cast<WORD>(v >> 16));
  }
  void word(WORD v) {
    bytes_.push_back(static_cast<unsigned char>(v & 0xFF));
    bytes_.push_back(static_cast<unsigned char>(v >> 8));
  }
  void text(const char* s) {
    int length = MultiByteToWideChar(CP_ACP, 0, s, -1, nullptr, 0);
    std::vector<wchar_t> wide(length > 0 ? length : 1, L'\0');
    if (length > 0) MultiByteToWideChar(CP_ACP, 0, s, -1, wide.data(), length);
    for (wchar_t c : wide)
      word(static_cast<WORD>(c));
  }
  void name(const TemplateName& n) {
    if (n.ordinal != 0) {
      word(0xFFFF);
      word(n.ordinal);
    } else {
      text(n.text);
    }
  }
  void align() {
    while (bytes_.size() % sizeof(DWORD) != 0)
      bytes_.push_back(0);
  }

 private:
  std::vector<unsigned char> bytes_;
};

std::vector<DWORD> build_dialog_template(const DialogTemplate& t) {
  TemplateWriter w;
  w.dword(DS_SETFONT | DS_MODALFRAME | WS_POPUP | WS_CAPTION | WS_SYSMENU);
  w.dword(0);  // extended style
  w.word(static_cast<WORD>(t.controls.size()));
  w.word(0);  // x and y: every procedure centres its dialog
  w.word(0);
  w.word(static_cast<WORD>(t.width));
  w.word(static_cast<WORD>(t.height));
  w.word(0);  // no menu
  w.word(0);  // the system's dialog class
  w.text(t.caption);
  w.word(static_cast<WORD>(DIALOG_FONT_POINTS));
  w.text(DIALOG_FONT_FAMILY);
  for (const ControlTemplate& c : t.controls) {
    w.align();
    w.dword(control_style(c));
    w.dword(0);
    w.word(static_cast<WORD>(c.rect.x));
    w.word(static_cast<WORD>(c.rect.y));
    w.word(static_cast<WORD>(c.rect.width));
    w.word(static_cast<WORD>(c.rect.height));
    w.word(c.id != 0 ? static_cast<WORD>(c.id) : static_cast<WORD>(0xFFFF));  // no id: the usual -1
    w.name(control_class(c.kind));
    if (c.kind == ControlKind::icon) {
      w.name({static_cast<WORD>(c.icon)});
    } else {
      w.text(c.caption);
    }
    w.word(0);  // no creation data
  }
  return w.finish();
}

// The procedure a dialog was created with rides in to WM_INITDIALOG with its init parameter and is then
// kept as a window property: DWLP_USER belongs to the procedure (set_window_data).
struct DialogStart {
  DialogProc proc;
  std::intptr_t init_param;
  bool modeless;
  HICON big_icon, small_icon;
};

constexpr const char* PROC_PROPERTY = "QorDialogProc";
constexpr const char* MODELESS_PROPERTY = "QorModeless";
constexpr int ADDRESS_PARTS = 4;
constexpr const char* TYPED_PART_PROPERTIES[ADDRESS_PARTS] = {"QorTypedPart0", "QorTypedPart1",
                                                              "QorTypedPart2", "QorTypedPart3"};

// The address field turns a part above 255 into 255 (once the user leaves it, or at once), and may say
// so in a box of its own; 127.0.0.600 would then read as another device. What was typed is kept beside
// the field, so that reading it gives the part as typed and the address check refuses it. The field
// reports the 255 it put there as a change too: only a change after that one is the user's.
constexpr std::uintptr_t CLAMP_REPORTED = 0x10000;

void note_typed_part(const NMIPADDRESS& change) {
  if (change.iField < 0 || change.iField >= ADDRESS_PARTS) return;
  HWND field = change.hdr.hwndFrom;
  const char* property = TYPED_PART_PROPERTIES[change.iField];
  const auto kept = reinterpret_cast<std::uintptr_t>(GetPropA(field, property));
  if (change.iValue > 255) {
    SetPropA(field, property, reinterpret_cast<HANDLE>(static_cast<std::uintptr_t>(change.iValue)));
  } else if (kept != 0 && !(kept & CLAMP_REPORTED) && change.iValue == 255) {
    SetPropA(field, property, reinterpret_cast<HANDLE>(kept | CLAMP_REPORTED));
  } else {
    RemovePropA(field, property);
  }
}

void forget_typed_parts(HWND control) {
  for (const char* property : TYPED_PART_PROPERTIES)
    RemovePropA(control, property);
}

// The dotted text of the field with every part that was cut to 255 as it was typed.
void restore_typed_parts(HWND control, char* buffer, int size) {
  unsigned parts[ADDRESS_PARTS] = {};
  bool typed = false;
  for (int i = 0; i < ADDRESS_PARTS; ++i) {
    auto value = static_cast<unsigned>(
        reinterpret_cast<std::uintptr_t>(GetPropA(control, TYPED_PART_PROPERTIES[i])) & (CLAMP_REPORTED - 1));
    parts[i] = value;
    typed = typed || value != 0;
  }
  if (!typed) return;
  unsigned shown[ADDRESS_PARTS] = {};
  if (std::sscanf(buffer, "%u.%u.%u.%u", &shown[0], &shown[1], &shown[2], &shown[3]) != ADDRESS_PARTS) return;
  for (int i = 0; i < ADDRESS_PARTS; ++i) {
    if (parts[i] != 0 && shown[i] == 255) shown[i] = parts[i];
  }
  std::snprintf(buffer, static_cast<std::size_t>(size), "%u.%u.%u.%u", shown[0], shown[1], shown[2],
                shown[3]);
}

bool is_address_field(HWND control);

// One Win32 dialog procedure for every template; it hands the two messages of the port to the
// procedure of the window. Our procedures are not DLGPROCs: the calling conventions differ on i686.
INT_PTR CALLBACK dialog_thunk(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_INITDIALOG) {
    const auto* start = reinterpret_cast<const DialogStart*>(lparam);
    SetPropA(hwnd, PROC_PROPERTY, reinterpret_cast<HANDLE>(reinterpret_cast<std::uintptr_t>(start->proc)));
    if (start->big_icon) SendMessageA(hwnd, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(start->big_icon));
    if (start->small_icon)
      SendMessageA(hwnd, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(start->small_icon));
    INT_PTR result = start->proc(to_window(hwnd), MSG_INITDIALOG, wparam, start->init_param);
    if (!start->modeless) return result;
    // A window that opens by itself gives no button the keyboard: a key typed for the window before it
    // would press that button.
    SetPropA(hwnd, MODELESS_PROPERTY, reinterpret_cast<HANDLE>(1));
    return FALSE;
  }
  if (message == WM_NCDESTROY) {
    RemovePropA(hwnd, PROC_PROPERTY);
    RemovePropA(hwnd, MODELESS_PROPERTY);
    return FALSE;
  }
  // The dialog's own handling would give the keyboard back to its first button when it is activated or
  // focused; without it the window itself keeps the keyboard, from where Tab reaches the button.
  if ((message == WM_ACTIVATE || message == WM_SETFOCUS) && GetPropA(hwnd, MODELESS_PROPERTY) != nullptr)
    return TRUE;
  if (message == WM_NOTIFY) {
    const auto* header = reinterpret_cast<const NMHDR*>(lparam);
    if (header->code == IPN_FIELDCHANGED && is_address_field(header->hwndFrom))
      note_typed_part(*reinterpret_cast<const NMIPADDRESS*>(lparam));
    return FALSE;
  }
  if (message != WM_COMMAND) return FALSE;
  auto proc = reinterpret_cast<DialogProc>(reinterpret_cast<std::uintptr_t>(GetPropA(hwnd, PROC_PROPERTY)));
  return proc != nullptr ? proc(to_window(hwnd), MSG_COMMAND, wparam, lparam) : FALSE;
}

bool is_address_field(HWND control) {
  char name[32] = "";
  GetClassNameA(control, name, sizeof name);
  return lstrcmpiA(name, WC_IPADDRESSA) == 0;
}

// The system's address field reads back as dotted text but is set by number.
void set_address_field(HWND control, const char* text) {
  forget_typed_parts(control);
  std::uint32_t address = 0;
  if (text != nullptr && parse_ip_address(text, &address) == ADDRESS_VALID) {
    SendMessageA(control, IPM_SETADDRESS, 0, static_cast<LPARAM>(address));
  } else {
    SendMessageA(control, IPM_CLEARADDRESS, 0, 0);
  }
}

bool owned_by_caller(HWND hwnd) {
  return hwnd != nullptr && GetWindowThreadProcessId(hwnd, nullptr) == GetCurrentThreadId();
}

}  // namespace

Win32Toolkit::Win32Toolkit(void* instance)
    : instance_(instance != nullptr ? instance : static_cast<void*>(GetModuleHandleA(nullptr))) {}

void Win32Toolkit::set_window_icon(int icon_id) {
  auto* module = static_cast<HINSTANCE>(instance_);
  auto load = [&](int metric_x, int metric_y) {
    return static_cast<HICON>(LoadImageA(module, MAKEINTRESOURCEA(icon_id), IMAGE_ICON,
                                         GetSystemMetrics(metric_x), GetSystemMetrics(metric_y),
                                         LR_DEFAULTCOLOR));
  };
  big_icon_ = load(SM_CXICON, SM_CYICON);
  small_icon_ = load(SM_CXSMICON, SM_CYSMICON);
}

std::intptr_t Win32Toolkit::dialog_box(int template_id, DialogProc proc, std::intptr_t init_param) {
  const DialogTemplate* t = find_dialog_template(template_id);
  if (t == nullptr) return 0;
  std::vector<DWORD> bytes = build_dialog_template(*t);
  DialogStart start{proc, init_param, false, static_cast<HICON>(big_icon_), static_cast<HICON>(small_icon_)};
  INT_PTR result = DialogBoxIndirectParamA(static_cast<HINSTANCE>(instance_),
                                           reinterpret_cast<LPCDLGTEMPLATEA>(bytes.data()), nullptr,
                                           dialog_thunk, reinterpret_cast<LPARAM>(&start));
  // -1: the dialog could not be made. Nobody confirmed anything, so it counts as declined.
  return result == -1 ? 0 : result;
}

Window Win32Toolkit::create_dialog(int template_id, DialogProc proc, std::intptr_t init_param) {
  const DialogTemplate* t = find_dialog_template(template_id);
  if (t == nullptr) return Window::none;
  std::vector<DWORD> bytes = build_dialog_template(*t);
  DialogStart start{proc, init_param, true, static_cast<HICON>(big_icon_), static_cast<HICON>(small_icon_)};
  HWND hwnd = CreateDialogIndirectParamA(static_cast<HINSTANCE>(instance_),
                                         reinterpret_cast<LPCDLGTEMPLATEA>(bytes.data()), nullptr,
                                         dialog_thunk, reinterpret_cast<LPARAM>(&start));
  if (hwnd == nullptr) return Window::none;
  ShowWindow(hwnd, SW_SHOWNORMAL);
  return to_window(hwnd);
}

void Win32Toolkit::destroy_window(Window window) {
  DestroyWindow(to_hwnd(window));
}

void Win32Toolkit::end_dialog(Window window, std::intptr_t result) {
  EndDialog(to_hwnd(window), result);
}

void Win32Toolkit::set_window_data(Window window, std::intptr_t data) {
  SetWindowLongPtrA(to_hwnd(window), DWLP_USER, data);
}

std::intptr_t Win32Toolkit::window_data(Window window) {
  return GetWindowLongPtrA(to_hwnd(window), DWLP_USER);
}

void Win32Toolkit::set_window_text(Window window, const char* text) {
  SetWindowTextA(to_hwnd(window), text);
}

void Win32Toolkit::set_item_text(Window window, int id, const char* text) {
  HWND control = GetDlgItem(to_hwnd(window), id);
  if (control != nullptr && is_address_field(control)) {
    set_address_field(control, text);
    return;
  }
  SetDlgItemTextA(to_hwnd(window), id, text);
}

int Win32Toolkit::get_item_text(Window window, int id, char* buffer, int size) {
  if (buffer == nullptr || size <= 0) return 0;
  buffer[0] = '\0';
  int length = static_cast<int>(GetDlgItemTextA(to_hwnd(window), id, buffer, size));
  HWND control = GetDlgItem(to_hwnd(window), id);
  if (control == nullptr || !is_address_field(control)) return length;
  restore_typed_parts(control, buffer, size);
  return static_cast<int>(std::strlen(buffer));
}

void Win32Toolkit::set_focus(Window window, int id) {
  HWND control = GetDlgItem(to_hwnd(window), id);
  if (control == nullptr) return;
  // Through the dialog, so that it moves the default button and selects an edit's text as Tab does.
  SendMessageA(to_hwnd(window), WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(control), TRUE);
}

void Win32Toolkit::list_add(Window window, int id, const char* text) {
  SendDlgItemMessageA(to_hwnd(window), id, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text));
}

void Win32Toolkit::list_select(Window window, int id, int index) {
  SendDlgItemMessageA(to_hwnd(window), id, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
}

int Win32Toolkit::list_selection(Window window, int id) {
  LRESULT index = SendDlgItemMessageA(to_hwnd(window), id, CB_GETCURSEL, 0, 0);
  return index == CB_ERR ? -1 : static_cast<int>(index);
}

void Win32Toolkit::progress_range(Window window, int id, int low, int high) {
  SendDlgItemMessageA(to_hwnd(window), id, PBM_SETRANGE32, static_cast<WPARAM>(low),
                      static_cast<LPARAM>(high));
}

void Win32Toolkit::progress_pos(Window window, int id, int pos) {
  SendDlgItemMessageA(to_hwnd(window), id, PBM_SETPOS, static_cast<WPARAM>(pos), 0);
}

bool Win32Toolkit::pump_one(Window window) {
  HWND hwnd = to_hwnd(window);
  if (!owned_by_caller(hwnd)) return false;
  MSG msg;
  if (!PeekMessageA(&msg, hwnd, 0, 0, PM_REMOVE)) return false;
  // Return does nothing in a window that opened by itself: it was typed for the window before.
  const bool key = msg.message == WM_KEYDOWN || msg.message == WM_KEYUP || msg.message == WM_CHAR;
  if (key && msg.wParam == VK_RETURN) return true;
  // Tab, Enter and Escape work as in a modal dialog.
  if (!IsDialogMessageA(hwnd, &msg)) {
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
  }
  return true;
}

void Win32Toolkit::pump_all(Window window) {
  while (pump_one(window)) {
  }
}

bool Win32Toolkit::get_window_rect(Window window, ScreenRect& rect) {
  RECT r;
  if (!GetWindowRect(to_hwnd(window), &r)) return false;
  rect = {r.left, r.top, r.right, r.bottom};
  return true;
}

void Win32Toolkit::screen_size(int& width, int& height) {
  width = GetSystemMetrics(SM_CXSCREEN);
  height = GetSystemMetrics(SM_CYSCREEN);
}

void Win32Toolkit::move_window(Window window, int left, int top) {
  SetWindowPos(to_hwnd(window), HWND_TOP, left, top, 0, 0, SWP_NOSIZE);
}

int Win32Toolkit::message_box(Window owner, const char* text, const char* caption, unsigned flags) {
  return MessageBoxA(to_hwnd(owner), text, caption, flags);
}

}  // namespace qor::win32
