#include "tests/support/sample_windows.h"

#include <utility>
#include <vector>

#include "base/text.h"
#include "ui/dialog_templates.h"
#include "ui/dialogs.h"
#include "ui/error_box.h"
#include "ui/texts.h"

namespace qor::test {

namespace {

// The windows whose procedures live in http/ and tftp/, filled as those procedures and their loops
// fill them, with the longest texts they get.
struct Sample {
  const char* title;  // null: the template's
  std::vector<std::pair<int, const char*>> texts;
  int focus;              // 0: the dialog's own choice
  int bar_high, bar_pos;  // of IDC_PROGRESS; no bar when bar_high is 0
};

const Sample password_sample{nullptr,
                             {{password_ids::HELP, texts::PASSWORD_HELP},
                              {password_ids::USERNAME, texts::DEFAULT_USER},
                              {password_ids::PASSWORD, "secret"}},
                             password_ids::PASSWORD,
                             0,
                             0};
const Sample connecting_sample{"Connecting with QOR@127.100.200.250", {}, 0, 100, 40};
const Sample waiting_sample{nullptr, {{waiting_ids::TEXT, texts::WAITING_HELP}}, 0, 1000, 300};
const Sample upload_sample{
    "Uploading Target Firmware to QOR@127.100.200.250 524288/1050000 Bytes", {}, 0, 2051, 1024};

std::intptr_t sample_proc(Window w, unsigned message, std::uintptr_t, std::intptr_t lparam) {
  if (message != MSG_INITDIALOG) return 0;
  const Sample& sample = *reinterpret_cast<const Sample*>(lparam);
  if (sample.title) toolkit().set_window_text(w, sample.title);
  for (const auto& [id, text] : sample.texts)
    toolkit().set_item_text(w, id, text);
  if (sample.bar_high) {
    toolkit().progress_range(w, IDC_PROGRESS, 0, sample.bar_high);
    toolkit().progress_pos(w, IDC_PROGRESS, sample.bar_pos);
  }
  if (sample.focus) toolkit().set_focus(w, sample.focus);
  center_window(w);
  return sample.focus ? 0 : 1;
}

std::intptr_t record_of(const Sample& sample) {
  return reinterpret_cast<std::intptr_t>(&sample);
}

}  // namespace

UpgradeRun& sample_run() {
  static UpgradeRun run;
  static bool filled = [] {
    copy_text(run.product_display_name, sizeof run.product_display_name, "QOR-3300/6600");
    set_image_version(run.target_image, "3.2.1");
    set_image_version(run.transition_image, "3.0.5");
    run.local_addresses[0] = 0x7F000001;
    run.local_addresses[1] = 0x7F640A0B;
    copy_text(run.device_address_text, sizeof run.device_address_text, "127.100.200.250");
    DeviceInfo& info = run.device_info;
    copy_text(info.serial_number, sizeof info.serial_number, "FM502BA12345");
    copy_text(info.mac_address, sizeof info.mac_address, "00:0E:08:12:34:56");
    copy_text(info.software_version, sizeof info.software_version, "3.1.7(GYa)");
    copy_text(info.hardware_version, sizeof info.hardware_version, "3.1.1(c)");
    copy_text(info.product_name, sizeof info.product_name, "QOR4710");
    return true;
  }();
  (void)filled;
  return run;
}

Window open_sample_dialog(Toolkit& tk, int id) {
  UpgradeRun& run = sample_run();
  const auto record = reinterpret_cast<std::intptr_t>(&run);
  switch (id) {
    case IDD_WARNING:
      return tk.create_dialog(id, warning_dialog_proc, record);
    case IDD_ADDRESS:
    case IDD_ADDRESS_PHONE: {
      run.phone_variant = id == IDD_ADDRESS_PHONE ? 1 : 0;
      Window w = tk.create_dialog(id, address_dialog_proc, record);
      tk.set_item_text(w, address_ids::ADDRESS, "127.100.200.250");
      run.phone_variant = 0;
      return w;
    }
    case IDD_CONFIRM:
    case IDD_CONFIRM_TRANSITION: {
      run.upgrade_stage.store(id == IDD_CONFIRM ? 1 : 0);
      Window w = tk.create_dialog(id, confirm_dialog_proc, record);
      run.upgrade_stage.store(1);
      return w;
    }
    case IDD_SUCCESS:
      return tk.create_dialog(id, success_dialog_proc, record);
    case IDD_PASSWORD:
      return tk.create_dialog(id, sample_proc, record_of(password_sample));
    case IDD_CONNECTING:
      return tk.create_dialog(id, sample_proc, record_of(connecting_sample));
    case IDD_WAITING:
      return tk.create_dialog(id, sample_proc, record_of(waiting_sample));
    case IDD_UPLOAD:
      return tk.create_dialog(id, sample_proc, record_of(upload_sample));
  }
  return Window::none;
}

}  // namespace qor::test
