// The Qt backend driven as a user would: dialogs asked for from threads of the core, answered with
// QTest clicks and keys on the GUI thread.
#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QtTest>

#include <algorithm>
#include <chrono>
#include <future>
#include <vector>

#include "app/upgrade.h"
#include "base/run.h"
#include "base/text.h"
#include "front/qt/ip_address_edit.h"
#include "tests/qt/sample_dialogs.h"
#include "ui/dialog_templates.h"
#include "ui/dialogs.h"
#include "ui/error_box.h"

using namespace std::chrono_literals;

namespace qor::qt::test {

namespace {

bool any_window_visible() {
  const QWidgetList windows = QApplication::topLevelWidgets();
  return std::any_of(windows.begin(), windows.end(), [](QWidget* w) { return w->isVisible(); });
}

QMessageBox* visible_box() {
  for (QWidget* w : QApplication::allWidgets()) {
    auto* box = qobject_cast<QMessageBox*>(w);
    if (box && box->isVisible()) return box;
  }
  return nullptr;
}

template <class T>
T* child(QtDialog* d, int id) {
  return qobject_cast<T*>(d->control(id));
}

// A click that goes through the window system, as a user's does, so that a blocked or disabled window
// does not get it (QTest's clicks on a widget skip that check).
void click_through_window(QWidget* button) {
  QWidget* window = button->window();
  QTest::mouseClick(window->windowHandle(), Qt::LeftButton, {},
                    button->mapTo(window, button->rect().center()));
}

// Keys go where a user's keys go: to the widget that has the focus.
void type_keys(const QString& keys) {
  for (QChar c : keys)
    QTest::keyClick(QApplication::focusWidget(), c.toLatin1());
}

// A modal dialog run on a thread of its own, as the core runs them. A test that fails half-way leaves
// the dialog open; the destructor then answers whatever is still open, so the thread can end.
class ModalRun {
 public:
  ModalRun(int template_id, DialogProc proc)
      : result_(std::async(std::launch::async, [=] {
          return toolkit().dialog_box(template_id, proc, reinterpret_cast<std::intptr_t>(&sample_run()));
        })) {}
  template <class F>
  explicit ModalRun(F body) : result_(std::async(std::launch::async, body)) {}
  ~ModalRun() {
    for (int i = 0; i < 2000 && !ready(); ++i) {
      if (QMessageBox* box = visible_box()) box->done(0);
      for (const WindowSnapshot& s : static_cast<DialogManager&>(toolkit()).open_windows()) {
        static_cast<DialogManager&>(toolkit()).user_command(s.window, IDCANCEL);
      }
      QTest::qWait(5);
    }
  }
  bool ready() const { return !result_.valid() || result_.wait_for(0ms) == std::future_status::ready; }
  std::intptr_t get() { return result_.get(); }

 private:
  std::future<std::intptr_t> result_;
};

// A procedure that remembers the commands it was sent, for windows pumped by the test itself.
std::vector<int> commands_seen;
std::intptr_t recording_proc(Window, unsigned message, std::uintptr_t wparam, std::intptr_t) {
  if (message == MSG_COMMAND) commands_seen.push_back(command_id(wparam));
  return 0;
}

std::intptr_t ignoring_proc(Window, unsigned, std::uintptr_t, std::intptr_t) {
  return 0;
}

std::intptr_t centring_proc(Window window, unsigned message, std::uintptr_t, std::intptr_t) {
  if (message == MSG_INITDIALOG) center_window(window);
  return 0;
}

std::intptr_t ending_proc(Window window, unsigned message, std::uintptr_t, std::intptr_t) {
  if (message == MSG_COMMAND) toolkit().end_dialog(window, 0);
  return 0;
}

}  // namespace

class QtBackendTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase();
  void init();
  void cleanupTestCase();
  void address_typed_and_confirmed_from_another_thread();
  void invalid_address_keeps_the_dialog_open_under_its_own_box();
  void dismissing_ends_with_zero_data();
  void dismissing_ends_with_zero();
  void keys_typed_ahead_do_not_answer_a_progress_window();
  void address_fields_move_on_keep_what_was_typed_and_take_a_paste();
  void progress_position_survives_a_range_change();
  void error_box_blocks_its_caller_until_closed();
  void only_the_blocked_threads_windows_wait_data();
  void only_the_blocked_threads_windows_wait();
  void dialog_frame_is_centred_data();
  void dialog_frame_is_centred();
  void every_kind_of_control_is_drawn_and_every_text_fits();
  void upgrade_start_runs_its_dialogs_through_qt();

 private:
  std::unique_ptr<QtToolkit> gui_;
};

void QtBackendTest::initTestCase() {
  QApplication::setQuitOnLastWindowClosed(false);
  gui_ = std::make_unique<QtToolkit>();
  set_toolkit(&gui_->manager());
}

void QtBackendTest::init() {
  // What an earlier test closed may still be on its way off the screen.
  QTRY_VERIFY(!any_window_visible());
  UpgradeRun& run = sample_run();
  run.phone_variant = 0;
  run.upgrade_stage.store(1);
  run.device_address = 0;
  run.local_address = 0;
  copy_text(run.device_address_text, sizeof run.device_address_text, "127.100.200.250");
  commands_seen.clear();
}

void QtBackendTest::cleanupTestCase() {
  set_toolkit(nullptr);
  gui_.reset();
}

void QtBackendTest::address_typed_and_confirmed_from_another_thread() {
  const struct {
    const char* typed;
    bool enter;  // else the OK button, after the second local address is picked
    unsigned device, local;
  } rows[] = {{"127.100.200.250", false, 0x7F64C8FA, 0x7F640A0B},
              {"127.0.0.9", true, 0x7F000009, 0x7F000001}};  // the first item, selected at the start
  for (const auto& row : rows) {
    ModalRun result(IDD_ADDRESS, address_dialog_proc);
    QtDialog* d = wait_dialog(IDD_ADDRESS);
    QVERIFY(d);
    auto* address = child<IpAddressEdit>(d, address_ids::ADDRESS);
    QTRY_COMPARE(QApplication::focusWidget(), address->field(0));
    type_keys(QString::fromLatin1(row.typed));
    QCOMPARE(address->text(), QString::fromLatin1(row.typed));
    if (row.enter) {
      QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    } else {
      QTest::keyClick(child<QComboBox>(d, address_ids::LOCAL_ADDRESSES), Qt::Key_Down);
      QTest::mouseClick(child<QPushButton>(d, IDOK), Qt::LeftButton);
    }
    QTRY_VERIFY(result.ready());
    QCOMPARE(result.get(), std::intptr_t{1});
    QCOMPARE(sample_run().device_address, row.device);
    QCOMPARE(QString::fromLatin1(sample_run().device_address_text), QString::fromLatin1(row.typed));
    QCOMPARE(sample_run().local_address, row.local);
    QTRY_VERIFY(visible_dialog(IDD_ADDRESS) == nullptr);
  }
}

void QtBackendTest::invalid_address_keeps_the_dialog_open_under_its_own_box() {
  ModalRun result(IDD_ADDRESS, address_dialog_proc);
  QtDialog* d = wait_dialog(IDD_ADDRESS);
  QVERIFY(d);
  auto* address = child<IpAddressEdit>(d, address_ids::ADDRESS);
  QTRY_COMPARE(QApplication::focusWidget(), address->field(0));
  type_keys(QStringLiteral("10.1..13"));  // the third field left empty
  QTest::mouseClick(child<QPushButton>(d, IDOK), Qt::LeftButton);
  QMessageBox* box = nullptr;
  QTRY_VERIFY((box = visible_box()) != nullptr);
  QCOMPARE(box->text(), QStringLiteral("Invalid IP Address"));
  QCOMPARE(box->windowTitle(), QStringLiteral("Error"));
  QCOMPARE(box->parentWidget(), d);
  QCOMPARE(box->buttons().size(), qsizetype{1});
  QVERIFY(!result.ready());  // the procedure is still inside the box
  QVERIFY(!d->isEnabled());  // the box's owner waits for it
  QTest::mouseClick(box->buttons().front(), Qt::LeftButton);
  QTRY_COMPARE(QApplication::focusWidget(), address->field(0));
  QVERIFY(d->isVisible());
  QVERIFY(d->isEnabled());
  QVERIFY(!result.ready());
  QCOMPARE(sample_run().device_address, 0u);
  QTest::mouseClick(child<QPushButton>(d, IDCANCEL), Qt::LeftButton);
  QTRY_VERIFY(result.ready());
  QCOMPARE(result.get(), std::intptr_t{0});
}

void QtBackendTest::dismissing_ends_with_zero_data() {
  QTest::addColumn<int>("how");  // 0 Cancel button, 1 Escape, 2 close box
  QTest::addColumn<int>("template_id");
  QTest::newRow("address cancel") << 0 << IDD_ADDRESS;
  QTest::newRow("address escape") << 1 << IDD_ADDRESS;
  QTest::newRow("address close box") << 2 << IDD_ADDRESS;
  QTest::newRow("warning escape") << 1 << IDD_WARNING;
  QTest::newRow("warning enter, Cancel is the default") << 3 << IDD_WARNING;
  QTest::newRow("success close box") << 2 << IDD_SUCCESS;
  QTest::newRow("success escape") << 1 << IDD_SUCCESS;
}

void QtBackendTest::dismissing_ends_with_zero() {
  QFETCH(int, how);
  QFETCH(int, template_id);
  DialogProc proc = template_id == IDD_ADDRESS   ? address_dialog_proc
                    : template_id == IDD_WARNING ? warning_dialog_proc
                                                 : success_dialog_proc;
  ModalRun result(template_id, proc);
  QtDialog* d = wait_dialog(template_id);
  QVERIFY(d);
  if (how == 0) QTest::mouseClick(child<QPushButton>(d, IDCANCEL), Qt::LeftButton);
  if (how == 1) QTest::keyClick(d, Qt::Key_Escape);
  if (how == 2) d->close();
  if (how == 3) QTest::keyClick(d, Qt::Key_Return);
  QTRY_VERIFY(result.ready());
  QCOMPARE(result.get(), std::intptr_t{0});
  QTRY_VERIFY(visible_dialog(template_id) == nullptr);
}

void QtBackendTest::keys_typed_ahead_do_not_answer_a_progress_window() {
  // A modeless window owned by this thread; its commands are seen when the test pumps it.
  Window w = gui_->manager().create_dialog(IDD_PASSWORD, recording_proc);
  QtDialog* d = wait_dialog(IDD_PASSWORD);
  QVERIFY(d);
  QTRY_COMPARE(QApplication::focusWidget(), d);  // no button has the keyboard, not even a default one
  for (Qt::Key key : {Qt::Key_Escape, Qt::Key_Return, Qt::Key_Enter, Qt::Key_Space})
    QTest::keyClick(QApplication::focusWidget(), key);
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
  QCOMPARE(QApplication::focusWidget(), child<QPushButton>(d, IDOK));
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);  // not even on a default button tabbed to
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_Space);   // which Space presses
  QTest::mouseClick(child<QPushButton>(d, IDCANCEL), Qt::LeftButton);
  d->close();
  gui_->manager().pump_all(w);
  QCOMPARE(commands_seen, (std::vector<int>{IDOK, IDCANCEL, IDCANCEL}));  // none from the keys typed ahead
  QVERIFY(d->isVisible());                                                // closing only asks the owner
  gui_->manager().destroy_window(w);
  QTRY_VERIFY(visible_dialog(IDD_PASSWORD) == nullptr);
}

void QtBackendTest::address_fields_move_on_keep_what_was_typed_and_take_a_paste() {
  IpAddressEdit edit;
  QSignalSpy edited(&edit, &IpAddressEdit::edited);
  edit.show();
  QApplication::setActiveWindow(&edit);
  edit.focus_first();
  QTRY_COMPARE(QApplication::focusWidget(), edit.field(0));
  // "256" is no byte, but it stays as typed for the check on OK to refuse: never "25" or "255".
  type_keys(QStringLiteral("256"));
  QCOMPARE(edit.field(0)->text(), QStringLiteral("256"));
  QCOMPARE(QApplication::focusWidget(), edit.field(1));  // three digits move on by themselves
  type_keys(QStringLiteral("."));                        // a dot in an empty field stays there
  QCOMPARE(QApplication::focusWidget(), edit.field(1));
  type_keys(QStringLiteral("7.x"));
  QCOMPARE(QApplication::focusWidget(), edit.field(2));
  QCOMPARE(edit.text(), QStringLiteral("256.7.."));
  QTest::keyClick(QApplication::focusWidget(),
                  Qt::Key_Backspace);  // at the start: back to the previous field
  QCOMPARE(QApplication::focusWidget(), edit.field(1));
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backspace);
  QCOMPARE(edit.text(), QStringLiteral("256..."));
  edit.set_text(QString());
  QCOMPARE(edit.text(), QString());  // all empty reads as nothing typed, never as 0.0.0.0

  edit.focus_first();
  QTRY_COMPARE(QApplication::focusWidget(), edit.field(0));
  edited.clear();
  QApplication::clipboard()->setText(QStringLiteral(" 10.1.0.13 "));
  QTest::keySequence(QApplication::focusWidget(), QKeySequence::Paste);
  QCOMPARE(edit.text(), QStringLiteral("10.1.0.13"));
  QCOMPARE(edited.size(), qsizetype{1});
  edit.set_text(QStringLiteral("1.300.x.4000"));  // parts that are no numbers of three digits are left empty
  QCOMPARE(edit.text(), QStringLiteral("1.300.."));
  QCOMPARE(edited.size(), qsizetype{1});  // the program's own changes are not the user's
}

void QtBackendTest::progress_position_survives_a_range_change() {
  Window w = gui_->manager().create_dialog(IDD_CONNECTING, recording_proc);
  gui_->manager().progress_pos(w, IDC_PROGRESS, 500);  // outside the default range 0..100
  gui_->manager().progress_range(w, IDC_PROGRESS, 0, 1000);
  QtDialog* d = wait_dialog(IDD_CONNECTING);
  QVERIFY(d);
  auto* bar = child<QProgressBar>(d, IDC_PROGRESS);
  QTRY_COMPARE(bar->maximum(), 1000);
  QCOMPARE(bar->value(), 500);
  // Set within the frame of the range change, the position reaches the bar at a pump once it is over.
  gui_->manager().progress_pos(w, IDC_PROGRESS, 1000);
  QTRY_COMPARE((gui_->manager().pump_all(w), bar->value()), 1000);
  gui_->manager().destroy_window(w);
  QTRY_VERIFY(visible_dialog(IDD_CONNECTING) == nullptr);
}

void QtBackendTest::error_box_blocks_its_caller_until_closed() {
  ModalRun result([] { return static_cast<std::intptr_t>(show_error("Upgrade Failed: User Abort")); });
  QMessageBox* box = nullptr;
  QTRY_VERIFY((box = visible_box()) != nullptr);
  QCOMPARE(box->windowTitle(), QStringLiteral("QOR Firwmare Upgrade Error"));
  QCOMPARE(box->text(), QStringLiteral("Upgrade Failed: User Abort"));
  QCOMPARE(box->parentWidget(), nullptr);
  QCOMPARE(box->icon(), QMessageBox::NoIcon);
  QTest::qWait(20);
  QVERIFY(!result.ready());
  QTest::keyClick(box, Qt::Key_Return);
  QTRY_VERIFY(result.ready());
  QCOMPARE(result.get(), std::intptr_t{IDOK});
}

void QtBackendTest::only_the_blocked_threads_windows_wait_data() {
  QTest::addColumn<bool>("error_box");       // else a modal dialog (without owner) blocks its thread
  QTest::addColumn<bool>("blocked_window");  // the click goes to a window of the blocked thread
  QTest::addColumn<bool>("close_box");       // the close box instead of the Cancel button
  QTest::addColumn<int>("delivered");
  QTest::newRow("error box, another thread's Cancel") << true << false << false << 1;
  QTest::newRow("error box, its own thread's Cancel") << true << true << false << 0;
  QTest::newRow("error box, its own thread's close box") << true << true << true << 0;
  QTest::newRow("modal dialog, another thread's Cancel") << false << false << false << 1;
  QTest::newRow("modal dialog, its own thread's other window") << false << true << false << 1;
}

// A box or dialog on one thread (a request runner, say) leaves the windows of the other threads (the
// listener's waiting window) live; a task-modal box disables the windows of its own thread alone.
void QtBackendTest::only_the_blocked_threads_windows_wait() {
  QFETCH(bool, error_box);
  QFETCH(bool, blocked_window);
  QFETCH(bool, close_box);
  QFETCH(int, delivered);
  Window live = gui_->manager().create_dialog(IDD_WAITING, recording_proc);
  struct Closer {
    Window window;
    ~Closer() { toolkit().destroy_window(window); }
  } closer{live};
  std::promise<Window> blocked_promise;
  std::future<Window> blocked_future = blocked_promise.get_future();
  ModalRun blocked([&blocked_promise, error_box] {
    Window w = toolkit().create_dialog(IDD_CONNECTING, ignoring_proc);
    blocked_promise.set_value(w);
    if (error_box) {
      show_error("Upgrade Failed: User Abort");
    } else {
      toolkit().dialog_box(IDD_PASSWORD, ending_proc);
    }
    std::intptr_t seen = 0;
    while (toolkit().pump_one(w))
      ++seen;
    toolkit().destroy_window(w);
    return seen;
  });
  Window blocked_window_handle = blocked_future.get();
  QWidget* blocker = nullptr;
  QTRY_VERIFY((blocker = error_box ? static_cast<QWidget*>(visible_box()) : visible_dialog(IDD_PASSWORD)));
  QtDialog* target = gui_->view().dialog(blocked_window ? blocked_window_handle : live);
  QVERIFY(target && target->isVisible());
  if (close_box) {
    target->close();
  } else {
    click_through_window(child<QPushButton>(target, IDCANCEL));
  }
  gui_->manager().pump_all(live);
  if (error_box) {
    QTest::keyClick(blocker, Qt::Key_Return);
  } else {
    QTest::mouseClick(child<QPushButton>(static_cast<QtDialog*>(blocker), IDCANCEL), Qt::LeftButton);
  }
  QTRY_VERIFY(blocked.ready());
  QCOMPARE(static_cast<int>(commands_seen.size() + blocked.get()), delivered);
}

void QtBackendTest::dialog_frame_is_centred_data() {
  QTest::addColumn<bool>("frame_known");
  QTest::newRow("first window, framed once shown") << false;
  QTest::newRow("frame known from an earlier window") << true;
}

// The window's rectangle on the screen is its frame, title bar included, and that is what sits in the
// middle of the screen. Each row has a view of its own, so that the first sees a frame nobody knew yet.
// Offscreen windows get a thin frame; run under a window manager, this sees a real one.
void QtBackendTest::dialog_frame_is_centred() {
  QFETCH(bool, frame_known);
  QtToolkit gui;
  set_toolkit(&gui.manager());
  struct Restore {
    QtToolkit& gui;
    ~Restore() { set_toolkit(&gui.manager()); }
  } restore{*gui_};
  if (frame_known) {
    Window earlier = gui.manager().create_dialog(IDD_CONNECTING, centring_proc);
    QTRY_VERIFY(!gui.view().frame().isNull());
    gui.manager().destroy_window(earlier);
  }
  ModalRun result(IDD_SUCCESS, success_dialog_proc);
  QtDialog* d = wait_dialog(IDD_SUCCESS);
  QVERIFY(d);
  QTRY_VERIFY(!d->frame_margins().isNull());
  QSize screen = QGuiApplication::primaryScreen()->geometry().size();
  QSize outer = d->frameGeometry().size();
  QTRY_COMPARE(d->frameGeometry().topLeft(), QPoint(centered_origin(screen.width(), 0, outer.width()),
                                                    centered_origin(screen.height(), 0, outer.height())));
  if (frame_known) {  // then the manager itself centred the outer rectangle
    ScreenRect r{};
    QVERIFY(gui.manager().get_window_rect(d->handle(), r));
    QCOMPARE(QRect(QPoint(r.left, r.top), QPoint(r.right - 1, r.bottom - 1)), d->frameGeometry());
  }
  QCOMPARE(d->windowTitle(), QStringLiteral("QOR@127.100.200.250 Upgrade Successful!"));
  QTRY_COMPARE(QApplication::focusWidget(), child<QPushButton>(d, IDOK));  // once the window is active
  QTest::keyClick(d, Qt::Key_Return);                                      // OK is the default button
  QTRY_VERIFY(result.ready());
  QCOMPARE(result.get(), std::intptr_t{1});
}

void QtBackendTest::every_kind_of_control_is_drawn_and_every_text_fits() {
  std::vector<Window> windows = open_sample_dialogs(*gui_);
  QCOMPARE(windows.size(), std::size_t{10});
  for (Window w : windows) {
    QtDialog* d = gui_->view().dialog(w);
    QVERIFY(d);
    QStringList problems = fit_problems(*d);
    QVERIFY2(problems.isEmpty(), qPrintable(problems.join(QLatin1Char('\n'))));
  }
  QtDialog* address = visible_dialog(IDD_ADDRESS);
  QtDialog* phone = visible_dialog(IDD_ADDRESS_PHONE);
  QtDialog* password = visible_dialog(IDD_PASSWORD);
  QVERIFY(address && phone && password);
  // Pictures come from the resources compiled into the backend.
  for (QtDialog* d : {address, phone}) {
    QList<QLabel*> pictures;
    for (QLabel* l : d->findChildren<QLabel*>()) {
      if (!l->pixmap().isNull()) pictures << l;
    }
    QCOMPARE(pictures.size(), qsizetype{1});
    QCOMPARE(pictures.front()->pixmap().size(), QSize(32, 32));
  }
  auto* help = child<QPlainTextEdit>(address, address_ids::HELP);
  QCOMPARE(help->lineWrapMode(), QPlainTextEdit::NoWrap);
  QVERIFY(help->isReadOnly());
  QVERIFY(!help->toPlainText().contains(QLatin1Char('\r')));
  QCOMPARE(help->document()->blockCount(), 7);  // one block per line of the text
  QCOMPARE(child<QLineEdit>(password, password_ids::PASSWORD)->echoMode(), QLineEdit::Password);
  QCOMPARE(child<QLineEdit>(password, password_ids::USERNAME)->text(), QStringLiteral("admin"));
  QCOMPARE(child<QComboBox>(address, address_ids::LOCAL_ADDRESSES)->currentText(),
           QStringLiteral("127.0.0.1"));
  for (QLabel* l : password->findChildren<QLabel*>()) {
    QVERIFY(l->alignment() & Qt::AlignRight);  // "User" and "Password"
  }
  // Typing into an edit reaches the window's state as it happens.
  QTest::keyClick(child<QLineEdit>(password, password_ids::PASSWORD), Qt::Key_End);
  QTest::keyClicks(child<QLineEdit>(password, password_ids::PASSWORD), QStringLiteral("!"));
  char typed[32];
  toolkit().get_item_text(password->handle(), password_ids::PASSWORD, typed, sizeof typed);
  QCOMPARE(QString::fromLatin1(typed), QStringLiteral("secret!"));
  // The fit check itself sees a line that runs out of its box.
  Window success = windows.back();
  QCOMPARE(gui_->view().dialog(success)->objectName(), QStringLiteral("dialog_111"));
  gui_->manager().set_item_text(success, success_ids::TEXT,
                                "Your QOR has been successfully upgraded to the version");
  QTRY_COMPARE(fit_problems(*gui_->view().dialog(success)).size(), qsizetype{1});
  for (Window w : windows)
    gui_->manager().destroy_window(w);
}

// The program's own start, on a thread of its own as main() runs it: the warning and the address
// dialog appear through Qt, and declining the address ends the run without a message.
void QtBackendTest::upgrade_start_runs_its_dialogs_through_qt() {
  static UpgradeRun upgrade;
  ModalRun run([] { return static_cast<std::intptr_t>(upgrade_main(upgrade, StartupOptions{true})); });
  QtDialog* warning = wait_dialog(IDD_WARNING);
  QVERIFY(warning);
  QCOMPARE(warning->windowTitle(), QStringLiteral("QOR-4710 Firmware Upgrade"));
  QCOMPARE(QApplication::focusWidget(), child<QPushButton>(warning, IDCANCEL));
  QTest::mouseClick(child<QPushButton>(warning, IDOK), Qt::LeftButton);
  QtDialog* address = wait_dialog(IDD_ADDRESS);
  QVERIFY(address);
  QCOMPARE(child<QLineEdit>(address, address_ids::VERSION)->text(), QStringLiteral("Version 3.2.1"));
  QTest::mouseClick(child<QPushButton>(address, IDCANCEL), Qt::LeftButton);
  QTRY_VERIFY(run.ready());
  QCOMPARE(run.get(), std::intptr_t{0});
  QCOMPARE(upgrade.outcome.load(), Outcome::declined);
  QVERIFY(visible_box() == nullptr);
}

}  // namespace qor::qt::test

QTEST_MAIN(qor::qt::test::QtBackendTest)
#include "qt_backend_test.moc"
