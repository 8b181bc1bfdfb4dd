#include "front/qt/qt_toolkit.h"

#include <QGuiApplication>
#include <QMessageBox>
#include <QMetaObject>
#include <QScreen>
#include <QThread>

#include <future>

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

PixelSize QtDialogView::pixel_size(const DialogTemplate& tmpl) {
  return {units_.px_x(tmpl.width), units_.px_y(tmpl.height)};
}

void QtDialogView::on_create(Window window, const DialogTemplate& tmpl, bool modal) {
  post([this, window, &tmpl, modal] {
    dialogs_[window] = new QtDialog(*manager_, window, tmpl, modal, units_);
  });
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
  });
}

void QtDialogView::on_title(Window window, const std::string& title) {
  post_to(window, [title](QtDialog& d) { d.setWindowTitle(QString::fromStdString(title)); });
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
    if (has_title) d.setWindowTitle(title);
    if (bar != 0) d.set_progress_pos(bar, pos);
  });
}

void QtDialogView::show_box(Window owner, const QString& text, const QString& caption,
                            std::shared_ptr<BoxAnswer> answer) {
  // Owned by its dialog when it has one; application-modal either way, and never run with exec(): the
  // caller is another thread, which waits for the answer.
  auto* box = new QMessageBox(QMessageBox::NoIcon, caption, text, QMessageBox::Ok, dialog(owner));
  box->setAttribute(Qt::WA_DeleteOnClose);
  box->setWindowModality(Qt::ApplicationModal);
  QObject::connect(box, &QDialog::finished, box, [answer] {
    if (answer->answered) return;
    answer->answered = true;
    answer->promise.set_value(IDOK);
  });
  box->show();
  if (QGuiApplication::platformName() != QLatin1String("offscreen")) box->raise();
  box->activateWindow();
}

int QtDialogView::message_box(Window owner, const std::string& text, const std::string& caption, unsigned) {
  auto answer = std::make_shared<BoxAnswer>();
  std::future<int> result = answer->promise.get_future();
  QString qtext = QString::fromStdString(text).replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  QString qcaption = QString::fromStdString(caption);
  post([this, owner, qtext, qcaption, answer]() mutable {
    show_box(owner, qtext, qcaption, std::move(answer));
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

QtToolkit::QtToolkit() : manager_(view_) {
  view_.attach(manager_);
}

}  // namespace qor::qt
