#include "front/qt/qt_toolkit.h"

#include <QApplication>
#include <QClipboard>
#include <QGuiApplication>
#include <QIcon>
#include <QMessageBox>
#include <QMetaObject>
#include <QPointer>
#include <QScreen>
#include <QShortcut>
#include <QThread>

#include <future>

#include "ui/error_box.h"

// The pictures are compiled into this static library; nothing else would pull their registration in.
static void register_icon_resources() {
  Q_INIT_RESOURCE(icons);
}

namespace qor::qt {

// The promise a message box fulfils once the user has closed it. It belongs to the posted work and to
// the box, never to the waiting caller, so that a box closed late or never shown cannot touch a stack
// that has gone; if the box disappears unanswered the broken promise releases the caller.
struct BoxAnswer {
  std::promise<int> promise;
  bool answered = false;  // GUI thread only
};

namespace {

// Centres a box on the screen, frame included: first with the frame the last window had, then once
// more when the window manager has framed it, since a window placed before its frame is known lands
// off by the title bar. Belongs to the box.
class CentredBox : public QObject {
 public:
  CentredBox(QWidget* box, PixelSize screen) : QObject(box), box_(box), screen_(screen) {
    box->installEventFilter(this);
  }
  void centre(QSize outer) {
    box_->move(centered_origin(screen_.width, 0, outer.width()),
               centered_origin(screen_.height, 0, outer.height()));
  }

 protected:
  bool eventFilter(QObject*, QEvent* event) override {
    const QEvent::Type type = event->type();
    bool placed = type == QEvent::Move || type == QEvent::Resize || type == QEvent::Paint;
    if (placed && box_->frameGeometry().size() != box_->size()) {
      box_->removeEventFilter(this);
      centre(box_->frameGeometry().size());  // the user may move it from here on
    }
    return false;
  }

 private:
  QWidget* box_;
  PixelSize screen_;
};

}  // namespace

QtDialogView::QtDialogView() : context_(std::make_unique<QObject>()), units_(base_units_of(dialog_font())) {
  register_icon_resources();
  if (QScreen* screen = QGuiApplication::primaryScreen()) {
    screen_ = {screen->geometry().width(), screen->geometry().height()};
  }
}

QtDialogView::~QtDialogView() {
  for (auto& [window, dialog] : dialogs_)
    delete dialog;
}

template <class F>
void QtDialogView::post(F&& work) {
  QMetaObject::invokeMethod(context_.get(), std::forward<F>(work), Qt::QueuedConnection);
}

template <class F>
void QtDialogView::post_to(Window window, F&& work) {
  post([this, window, work = std::forward<F>(work)]() mutable {
    if (QtDialog* d = dialog(window)) work(*d);
  });
}

QtDialog* QtDialogView::dialog(Window window) const {
  auto it = dialogs_.find(window);
  return it == dialogs_.end() ? nullptr : it->second;
}

QMargins QtDialogView::frame() const {
  std::lock_guard lock(frame_mutex_);
  return frame_;
}

PixelSize QtDialogView::pixel_size(const DialogTemplate& tmpl) {
  // The window's rectangle is its outer one, frame included, so that centring counts the title bar.
  // The window manager frames a window only once it is shown; until then, one looks like the last.
  QMargins f = frame();
  return {units_.px_x(tmpl.width) + f.left() + f.right(), units_.px_y(tmpl.height) + f.top() + f.bottom()};
}

void QtDialogView::on_create(Window window, const DialogTemplate& tmpl, bool modal) {
  post([this, window, &tmpl, modal, owner = std::this_thread::get_id()] {
    auto* d = new QtDialog(*manager_, window, tmpl, modal, units_);
    dialogs_[window] = d;
    owner_threads_[window] = owner;
    QObject::connect(d, &QtDialog::frame_changed, context_.get(), [this, window] { frame_changed(window); });
  });
}

void QtDialogView::frame_changed(Window window) {
  QtDialog* d = dialog(window);
  if (!d) return;
  {
    std::lock_guard lock(frame_mutex_);
    frame_ = d->frame_margins();
  }
  // The window was centred on a size without this frame (the first window of the run, or a new frame):
  // centre its real outer rectangle instead. A window placed elsewhere keeps its corner.
  std::optional<WindowSnapshot> s = manager_->snapshot(window);
  if (!s) return;
  int width = s->rect.right - s->rect.left, height = s->rect.bottom - s->rect.top;
  QSize outer = d->frameGeometry().size();
  bool centred = s->rect.left == centered_origin(screen_.width, 0, width) &&
                 s->rect.top == centered_origin(screen_.height, 0, height);
  if (!centred || (outer.width() == width && outer.height() == height)) return;
  d->move(centered_origin(screen_.width, 0, outer.width()),
          centered_origin(screen_.height, 0, outer.height()));
}

void QtDialogView::on_show(Window window) {
  post_to(window, [](QtDialog& d) { d.show_dialog(); });
}

void QtDialogView::on_destroy(Window window) {
  post([this, window] {
    auto it = dialogs_.find(window);
    if (it == dialogs_.end()) return;
    it->second->hide();
    it->second->deleteLater();
    dialogs_.erase(it);
    owner_threads_.erase(window);
  });
}

void QtDialogView::on_title(Window window, const std::string& title) {
  post_to(window, [title](QtDialog& d) { d.set_title(QString::fromStdString(title)); });
}

void QtDialogView::on_text(Window window, int id, const std::string& text) {
  post_to(window, [id, text](QtDialog& d) { d.set_control_text(id, text); });
}

void QtDialogView::on_focus(Window window, int id) {
  post_to(window, [id](QtDialog& d) { d.focus_control(id); });
}

void QtDialogView::on_list_add(Window window, int id, const std::string& text) {
  post_to(window, [id, text](QtDialog& d) { d.add_list_item(id, text); });
}

void QtDialogView::on_list_select(Window window, int id, int index) {
  post_to(window, [id, index](QtDialog& d) { d.select_list_item(id, index); });
}

void QtDialogView::on_progress_range(Window window, int id, int low, int high) {
  post_to(window, [id, low, high](QtDialog& d) { d.set_progress_range(id, low, high); });
}

void QtDialogView::on_progress_pos(Window window, int id, int pos) {
  post_to(window, [id, pos](QtDialog& d) { d.set_progress_pos(id, pos); });
}

void QtDialogView::on_move(Window window, int left, int top) {
  post_to(window, [left, top](QtDialog& d) { d.move(left, top); });
}

void QtDialogView::on_update(Window window, const WindowUpdate& update) {
  const bool has_title = update.title != nullptr;
  QString title = has_title ? QString::fromStdString(*update.title) : QString();
  post_to(window, [has_title, title, bar = update.bar, pos = update.position](QtDialog& d) {
    if (has_title) d.set_title(title);
    if (bar != 0) d.set_progress_pos(bar, pos);
  });
}

// A box blocks the thread that waits for it, not the application: it disables its owner window, and a
// task-modal box every window of the calling thread. The windows of the other threads stay live, so
// that the Cancel of a waiting or upload window still works while a request runner shows a box.
std::vector<QtDialog*> QtDialogView::windows_blocked_by_box(Window owner, std::thread::id caller,
                                                            unsigned flags) const {
  std::vector<QtDialog*> blocked;
  for (const auto& [window, dialog] : dialogs_) {
    bool callers = (flags & MB_TASKMODAL) != 0 && owner_threads_.at(window) == caller;
    if (window == owner || callers) blocked.push_back(dialog);
  }
  return blocked;
}

void QtDialogView::show_box(Window owner, std::thread::id caller, unsigned flags, const QString& text,
                            const QString& caption, std::shared_ptr<BoxAnswer> answer) {
  // Owned by its dialog when it has one, and never run with exec(): the caller is another thread,
  // which waits for the answer.
  auto* box = new QMessageBox(QMessageBox::NoIcon, caption, text, QMessageBox::Ok, dialog(owner));
  box->setAttribute(Qt::WA_DeleteOnClose);
  box->setWindowModality(Qt::NonModal);  // a message box makes itself application-modal
  std::vector<QPointer<QtDialog>> disabled;
  for (QtDialog* d : windows_blocked_by_box(owner, caller, flags)) {
    d->setEnabled(false);
    disabled.emplace_back(d);
  }
  box->setEnabled(true);  // a window of its own, though its owner is disabled
  // Ctrl+C copies what the box says, as the system's own boxes do: to paste into a report of the problem.
  auto* copy = new QShortcut(QKeySequence::Copy, box);
  QObject::connect(copy, &QShortcut::activated, box, [box] {
    QGuiApplication::clipboard()->setText(box->windowTitle() + QLatin1Char('\n') + box->text());
  });
  QObject::connect(box, &QDialog::finished, box, [answer, disabled] {
    for (const QPointer<QtDialog>& d : disabled) {
      if (d) d->setEnabled(true);
    }
    if (answer->answered) return;
    answer->answered = true;
    answer->promise.set_value(IDOK);
  });
  box->show();
  // A box of its own sits where the dialogs sit, its frame centred to the pixel; the window manager
  // would put it elsewhere. An owned box stays over its owner, as Qt puts it.
  if (owner == Window::none) (new CentredBox(box, screen_))->centre(box->size().grownBy(frame()));
  if (QGuiApplication::platformName() != QLatin1String("offscreen")) box->raise();
  box->activateWindow();
}

int QtDialogView::message_box(Window owner, const std::string& text, const std::string& caption,
                              unsigned flags) {
  auto answer = std::make_shared<BoxAnswer>();
  std::future<int> result = answer->promise.get_future();
  QString qtext = QString::fromStdString(text).replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  QString qcaption = QString::fromStdString(caption);
  post([this, owner, caller = std::this_thread::get_id(), flags, qtext, qcaption, answer]() mutable {
    show_box(owner, caller, flags, qtext, qcaption, std::move(answer));
  });
  // Waiting here would stop the very loop that shows the box.
  if (QThread::currentThread() == context_->thread()) return IDOK;
  answer.reset();
  try {
    return result.get();
  } catch (const std::future_error&) {
    return IDOK;  // the box went away without an answer (the application is closing)
  }
}

void use_program_icon(int phone_variant) {
  register_icon_resources();
  QApplication::setWindowIcon(
      QIcon(QStringLiteral(":/icons/%1.xpm").arg(phone_variant != 0 ? IDI_PHONE : IDI_ADAPTER)));
}

QtToolkit::QtToolkit() : manager_(view_) {
  view_.attach(manager_);
}

}  // namespace qor::qt
