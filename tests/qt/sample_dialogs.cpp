#include "tests/qt/sample_dialogs.h"

#include <QApplication>
#include <QFontMetrics>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QtTest>

#include <chrono>
#include <cstring>
#include <thread>
#include <utility>

#include "base/text.h"
#include "ui/dialog_templates.h"
#include "ui/dialogs.h"
#include "ui/error_box.h"
#include "ui/texts.h"

namespace qor::qt::test {

namespace {

// What the core's own procedures put into the windows that do not show a run record.
struct Sample {
  const char* title;  // null: the template's
  std::vector<std::pair<int, const char*>> texts;
  int focus;              // 0: the dialog's own choice
  int bar_high, bar_pos;  // of IDC_PROGRESS; no bar when bar_high is 0
};

const Sample password_sample{nullptr,
                             {{password_ids::HELP, texts::PASSWORD_HELP},
                              {password_ids::USERNAME, "admin"},
                              {password_ids::PASSWORD, "secret"}},
                             password_ids::PASSWORD,
                             0,
                             0};
const Sample connecting_sample{"Connecting with QOR@10.1.0.13", {}, 0, 100, 40};
const Sample waiting_sample{nullptr, {{waiting_ids::TEXT, texts::WAITING_HELP}}, 0, 1000, 300};
const Sample upload_sample{
    "Uploading Target Firmware to QOR@10.1.0.13 524288/1050000 Bytes", {}, 0, 2051, 1024};

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

void set_version(FirmwareImage& image, const char* version) {
  char* at = reinterpret_cast<char*>(image.header + IMAGE_VERSION_OFFSET);
  copy_text(at, IMAGE_HEADER_SIZE - IMAGE_VERSION_OFFSET, version);
}

Window open_one(QtToolkit& gui, int id) {
  UpgradeRun& run = sample_run();
  const auto record = reinterpret_cast<std::intptr_t>(&run);
  switch (id) {
    case IDD_WARNING:
      return gui.manager().create_dialog(id, warning_dialog_proc, record);
    case IDD_ADDRESS:
    case IDD_ADDRESS_PHONE: {
      run.phone_variant = id == IDD_ADDRESS_PHONE ? 1 : 0;
      Window w = gui.manager().create_dialog(id, address_dialog_proc, record);
      gui.manager().set_item_text(w, address_ids::ADDRESS, "10.1.0.13");
      run.phone_variant = 0;
      return w;
    }
    case IDD_CONFIRM:
    case IDD_CONFIRM_TRANSITION:
      run.upgrade_stage.store(id == IDD_CONFIRM ? 1 : 0);
      return gui.manager().create_dialog(id, confirm_dialog_proc, record);
    case IDD_SUCCESS:
      return gui.manager().create_dialog(id, success_dialog_proc, record);
  }
  const Sample* sample = id == IDD_PASSWORD     ? &password_sample
                         : id == IDD_CONNECTING ? &connecting_sample
                         : id == IDD_WAITING    ? &waiting_sample
                                                : &upload_sample;
  return gui.manager().create_dialog(id, sample_proc, reinterpret_cast<std::intptr_t>(sample));
}

QString describe(const QWidget* w, const QString& what) {
  return QStringLiteral("%1/%2: %3").arg(w->window()->objectName(), w->objectName(), what);
}

void check_text(const QPlainTextEdit* t, QStringList& problems) {
  QFontMetrics fm(t->font());
  QStringList lines = t->toPlainText().split(QLatin1Char('\n'));
  while (!lines.isEmpty() && lines.back().isEmpty())
    lines.removeLast();  // a final break shows nothing
  int width = t->viewport()->width() - 2 * static_cast<int>(t->document()->documentMargin());
  for (const QString& line : lines) {
    if (fm.horizontalAdvance(line) > width) {
      problems << describe(t, QStringLiteral("line too wide (%1 > %2 px): %3")
                                  .arg(fm.horizontalAdvance(line))
                                  .arg(width)
                                  .arg(line));
    }
  }
  int height = static_cast<int>(lines.size()) * fm.lineSpacing();
  if (height > t->viewport()->height()) {
    problems << describe(t, QStringLiteral("%1 lines need %2 px, box has %3")
                                .arg(lines.size())
                                .arg(height)
                                .arg(t->viewport()->height()));
  }
}

void check_label(const QLabel* l, QStringList& problems) {
  if (l->text().isEmpty()) return;
  int needed = l->heightForWidth(l->width());
  if (needed > l->height()) {
    problems << describe(l, QStringLiteral("wrapped text needs %1 px, label has %2: %3")
                                .arg(needed)
                                .arg(l->height())
                                .arg(l->text()));
  }
}

void check_single(const QWidget* w, const QString& text, int padding, QStringList& problems) {
  int needed = QFontMetrics(w->font()).horizontalAdvance(text) + padding;
  if (needed > w->width()) {
    problems << describe(
        w, QStringLiteral("text needs %1 px, control has %2: %3").arg(needed).arg(w->width()).arg(text));
  }
}

}  // namespace

UpgradeRun& sample_run() {
  static UpgradeRun run;
  static bool filled = [] {
    copy_text(run.product_display_name, sizeof run.product_display_name, "QOR-3300/6600");
    set_version(run.target_image, "3.2.1");
    set_version(run.transition_image, "3.0.5");
    run.local_addresses[0] = 0xC0A80114;
    run.local_addresses[1] = 0x0A000005;
    copy_text(run.device_address_text, sizeof run.device_address_text, "192.168.100.200");
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

QtDialog* visible_dialog(int template_id) {
  for (QWidget* w : QApplication::topLevelWidgets()) {
    auto* d = qobject_cast<QtDialog*>(w);
    if (d && d->isVisible() && d->objectName() == QStringLiteral("dialog_%1").arg(template_id)) return d;
  }
  return nullptr;
}

QtDialog* wait_dialog(int template_id, int timeout_ms) {
  QtDialog* d = nullptr;
  [&] { QTRY_VERIFY_WITH_TIMEOUT((d = visible_dialog(template_id)) != nullptr, timeout_ms); }();
  return d;
}

std::vector<Window> open_sample_dialogs(QtToolkit& gui) {
  std::vector<Window> windows;
  for (const DialogTemplate& t : all_dialog_templates())
    windows.push_back(open_one(gui, t.id));
  sample_run().upgrade_stage.store(1);
  // Everything was posted to this thread's event loop; let it run until every window is on screen.
  for (int round = 0; round < 200; ++round) {
    QApplication::processEvents();
    bool all = true;
    for (Window w : windows)
      all = all && gui.view().dialog(w) && gui.view().dialog(w)->isVisible();
    if (all) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  QApplication::processEvents();
  return windows;
}

QStringList fit_problems(const QtDialog& dialog) {
  QStringList problems;
  for (const QPlainTextEdit* t : dialog.findChildren<QPlainTextEdit*>())
    check_text(t, problems);
  for (const QLabel* l : dialog.findChildren<QLabel*>()) {
    if (l->parent() == &dialog && l->pixmap().isNull()) check_label(l, problems);
  }
  for (const QPushButton* b : dialog.findChildren<QPushButton*>())
    check_single(b, b->text(), 8, problems);
  for (const QLineEdit* e : dialog.findChildren<QLineEdit*>()) {
    if (e->echoMode() == QLineEdit::Normal && e->parent() == &dialog) check_single(e, e->text(), 6, problems);
  }
  return problems;
}

}  // namespace qor::qt::test
