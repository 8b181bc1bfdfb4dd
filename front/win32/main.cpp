// qor-upgrade.exe: the desktop program on its own platform. The upgrade runs on the main thread and
// every modal dialog in the system's own modal loop; windows of the request workers and the TFTP
// listener belong to those threads, which pump them.
#include "app/upgrade.h"
#include "base/firmware.h"
#include "base/process.h"
#include "front/win32/win32_toolkit.h"
#include "ui/control_ids.h"

#include "front/win32/windows_api.h"  // last

// The procedure of the program's window class. No window of the class is ever made: registering it is
// what start-up asks of the window system before anything else.
LRESULT CALLBACK upgrade_wnd_proc(HWND, UINT, WPARAM, LPARAM) {
  return 0;
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  WNDCLASSA window_class{};
  window_class.lpfnWndProc = upgrade_wnd_proc;
  window_class.hInstance = instance;
  // A null module: the system's icons, among which there is no 286, so the class gets none. Kept as the
  // program has always done it.
  window_class.hIcon = LoadIconA(nullptr, MAKEINTRESOURCEA(286));
  window_class.lpszClassName = "QorUpgrade";
  if (RegisterClassA(&window_class) == 0) return 0;

  INITCOMMONCONTROLSEX classes{};
  classes.dwSize = sizeof classes;
  classes.dwICC = ICC_PROGRESS_CLASS | ICC_INTERNET_CLASSES;  // the bar and the address field: 0x820
  InitCommonControlsEx(&classes);

  static qor::win32::Win32Toolkit toolkit(instance);
  qor::set_toolkit(&toolkit);
  static qor::UpgradeRun run;
  // The image tells the kind of device, and with it the windows' icon, before the first window opens.
  run.upgrade_stage.store(qor::initial_upgrade_stage);
  qor::load_firmware_images(run);
  qor::identify_product(run);
  toolkit.set_window_icon(run.phone_variant != 0 ? qor::IDI_PHONE : qor::IDI_ADAPTER);
  qor::upgrade_main(run);
  // Request workers may still wait on the network: end without running destructors under them.
  qor::end_process(0);
}
