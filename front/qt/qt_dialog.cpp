#include "front/qt/qt_dialog.h"

#include <QComboBox>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>

#include <algorithm>

#include "front/qt/ip_address_edit.h"

namespace qor::qt {

namespace {

constexpr int ICON_PIXELS = 32;  // a picture control takes the size of its icon, not of its rectangle
constexpr int VISIBLE_LIST_ITEMS = 8;

int mul_div(int value, int numerator, int denominator) {
  return (value * numerator + denominator / 2) / denominator;
}

// Read-only edits show the dialog's own background, as the platform drew them.
void use_dialog_background(QWidget* w) {
  QPalette p = w->palette();
  p.setColor(QPalette::Base, p.color(QPalette::Window));
  w->setPalette(p);
}

Qt::Alignment alignment_of(unsigned flags) {
  if (flags & CF_ALIGN_RIGHT) return Qt::AlignRight;
  if (flags & CF_ALIGN_CENTER) return Qt::AlignHCenter;
  return Qt::AlignLeft;
}

}  // namespace

int BaseUnits::px_x(int dlu) const {
  return mul_div(dlu, x, 4);
}
int BaseUnits::px_y(int dlu) const {
  return mul_div(dlu, y, 8);
}

BaseUnits base_units_of(const QFont& font) {
  // The platform's own rule: the average width of the 52 letters, rounded, and the font's height.
  QFontMetrics fm(font);
  int width = fm.horizontalAdvance(QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
  return {(width / 26 + 1) / 2, fm.height()};
}

QFont dialog_font() {
  QFont font(QString::fromLatin1(DIALOG_FONT_FAMILY));
  font.setPointSize(DIALOG_FONT_POINTS);
  font.setStyleHint(QFont::SansSerif);
  return font;
}

QString display_text(const std::string& text) {
  QString s = QString::fromStdString(text);
  s.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  s.remove(QLatin1Char('\r'));
  return s;
}

QtDialog::QtDialog(DialogManager& manager, Window window, const DialogTemplate& tmpl, bool modal,
                   BaseUnits units)
    : QDialog(nullptr, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                           Qt::WindowCloseButtonHint),
      manager_(manager),
      window_(window),
      units_(units),
      modal_(modal),
      tmpl_(tmpl) {
  setObjectName(QStringLiteral("dialog_%1").arg(tmpl.id));
  setFont(dialog_font());
  setWindowTitle(QString::fromLatin1(tmpl.caption));
  setFixedSize(units_.px_x(tmpl.width), units_.px_y(tmpl.height));
  // A window that opens by itself during the upgrade must not catch keys typed for the one before it:
  // the window itself takes the keyboard, and its buttons answer a click, or Space once tabbed to.
  if (!modal_) setFocusPolicy(Qt::StrongFocus);
  build(tmpl);
}

QRect QtDialog::pixels(const DlgRect& r) const {
  return QRect(units_.px_x(r.x), units_.px_y(r.y), units_.px_x(r.width), units_.px_y(r.height));
}

void QtDialog::build(const DialogTemplate& tmpl) {
  for (const ControlTemplate& c : tmpl.controls) {
    QWidget* w = make_control(c);
    if (c.id != 0) {
      w->setObjectName(QStringLiteral("control_%1").arg(c.id));
      controls_[c.id] = w;
    }
    if (c.flags & CF_NO_TABSTOP) w->setFocusPolicy(Qt::ClickFocus);
  }
}

QWidget* QtDialog::make_control(const ControlTemplate& c) {
  switch (c.kind) {
    case ControlKind::button:
      return make_button(c);
    case ControlKind::text:
      return make_text(c);
    case ControlKind::line:
    case ControlKind::field:
    case ControlKind::edit:
      return make_single_line(c);
    case ControlKind::list:
      return make_list(c);
    case ControlKind::label:
      return make_label(c);
    case ControlKind::icon:
      return make_icon(c);
    case ControlKind::address:
      return make_address(c);
    case ControlKind::bar:
      return make_bar(c);
  }
  return make_label(c);
}

QWidget* QtDialog::make_button(const ControlTemplate& c) {
  auto* b = new QPushButton(QString::fromLatin1(c.caption), this);
  b->setGeometry(pixels(c.rect));
  // Return presses a button only in a dialog that waits for an answer.
  b->setDefault(modal_ && (c.flags & CF_DEFAULT) != 0);
  b->setAutoDefault(modal_);
  int id = c.id;
  connect(b, &QPushButton::clicked, this, [this, id] { manager_.user_command(window_, id); });
  return b;
}

QWidget* QtDialog::make_text(const ControlTemplate& c) {
  // The texts carry their own line breaks and were laid out for their boxes: no wrapping, no scrolling,
  // and no margins: the boxes were measured for the bare text.
  auto* t = new QPlainTextEdit(this);
  t->setReadOnly(true);
  t->setFrameShape(QFrame::NoFrame);
  t->setLineWrapMode(QPlainTextEdit::NoWrap);
  t->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  t->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  t->setTabChangesFocus(true);
  t->setContextMenuPolicy(Qt::NoContextMenu);
  t->document()->setDocumentMargin(0);
  t->setContentsMargins(1, 0, 0, 0);
  use_dialog_background(t);
  t->setPlainText(display_text(c.caption));
  t->setGeometry(pixels(c.rect));
  return t;
}

QWidget* QtDialog::make_single_line(const ControlTemplate& c) {
  auto* e = new QLineEdit(QString::fromLatin1(c.caption), this);
  e->setGeometry(pixels(c.rect));
  e->setAlignment(alignment_of(c.flags) | Qt::AlignVCenter);
  if (c.kind == ControlKind::edit) {
    if (c.flags & CF_PASSWORD) e->setEchoMode(QLineEdit::Password);
    int id = c.id;
    connect(e, &QLineEdit::textEdited, this,
            [this, id](const QString& text) { manager_.user_set_text(window_, id, text.toStdString()); });
    return e;
  }
  e->setReadOnly(true);
  e->setFrame(c.kind == ControlKind::field);
  use_dialog_background(e);
  return e;
}

QWidget* QtDialog::make_label(const ControlTemplate& c) {
  auto* l = new QLabel(QString::fromLatin1(c.caption), this);
  l->setTextFormat(Qt::PlainText);
  l->setWordWrap(true);  // static texts wrap at word boundaries
  l->setAlignment(alignment_of(c.flags) | Qt::AlignTop);
  l->setGeometry(pixels(c.rect));
  return l;
}

QWidget* QtDialog::make_icon(const ControlTemplate& c) {
  auto* l = new QLabel(this);
  l->setPixmap(QPixmap(QStringLiteral(":/icons/%1.xpm").arg(c.icon)));
  QRect r = pixels(c.rect);
  l->setGeometry(r.x(), r.y(), ICON_PIXELS, ICON_PIXELS);
  return l;
}

QWidget* QtDialog::make_list(const ControlTemplate& c) {
  // The rectangle's height is that of the opened list; the closed box is as tall as its font needs.
  auto* box = new QComboBox(this);
  box->setMaxVisibleItems(VISIBLE_LIST_ITEMS);
  QRect r = pixels(c.rect);
  box->setGeometry(r.x(), r.y(), r.width(), box->sizeHint().height());
  int id = c.id;
  connect(box, &QComboBox::activated, this,
          [this, id](int index) { manager_.user_select(window_, id, index); });
  return box;
}

QWidget* QtDialog::make_address(const ControlTemplate& c) {
  auto* a = new IpAddressEdit(this);
  a->setGeometry(pixels(c.rect));
  int id = c.id;
  connect(a, &IpAddressEdit::edited, this,
          [this, id](const QString& text) { manager_.user_set_text(window_, id, text.toStdString()); });
  return a;
}

QWidget* QtDialog::make_bar(const ControlTemplate& c) {
  auto* bar = new QProgressBar(this);
  bar->setRange(0, 100);  // the platform's default range
  bar->setValue(0);
  bar->setTextVisible(false);
  bar->setGeometry(pixels(c.rect));
  return bar;
}

QWidget* QtDialog::control(int id) const {
  auto it = controls_.find(id);
  return it == controls_.end() ? nullptr : it->second;
}

void QtDialog::set_control_text(int id, const std::string& text) {
  QWidget* w = control(id);
  if (auto* t = qobject_cast<QPlainTextEdit*>(w)) {
    t->setPlainText(display_text(text));
  } else if (auto* e = qobject_cast<QLineEdit*>(w)) {
    e->setText(QString::fromStdString(text));
    e->home(false);
  } else if (auto* l = qobject_cast<QLabel*>(w)) {
    l->setText(display_text(text));
  } else if (auto* b = qobject_cast<QPushButton*>(w)) {
    b->setText(QString::fromStdString(text));
  } else if (auto* a = qobject_cast<IpAddressEdit*>(w)) {
    a->set_text(QString::fromStdString(text));
  }
}

void QtDialog::set_title(const QString& title) {
  setWindowTitle(title);
  if (tmpl_.id != IDD_UPLOAD) return;
  // A window manager cuts a long title: the bar tells the bytes sent (or how far the wait has come) too.
  auto* bar = qobject_cast<QProgressBar*>(control(IDC_PROGRESS));
  if (!bar) return;
  static const QRegularExpression bytes(QStringLiteral("\\d+/\\d+ Bytes$"));
  QRegularExpressionMatch m = bytes.match(title);
  bar->setFormat(m.hasMatch() ? m.captured(0) : QStringLiteral("%p%"));
  bar->setTextVisible(true);
}

void QtDialog::add_list_item(int id, const std::string& text) {
  if (auto* box = qobject_cast<QComboBox*>(control(id))) {
    // A combo box selects its first item by itself; the list starts without a selection.
    bool was_empty = box->count() == 0;
    box->addItem(QString::fromStdString(text));
    if (was_empty) box->setCurrentIndex(-1);
  }
}

void QtDialog::select_list_item(int id, int index) {
  if (auto* box = qobject_cast<QComboBox*>(control(id))) box->setCurrentIndex(index);
}

void QtDialog::set_progress_range(int id, int low, int high) {
  if (auto* bar = qobject_cast<QProgressBar*>(control(id))) {
    bar->setRange(low, high);
    // A position set while it lay outside the old range was dropped by the bar.
    auto it = positions_.find(id);
    if (it != positions_.end()) bar->setValue(it->second);
  }
}

void QtDialog::set_progress_pos(int id, int pos) {
  positions_[id] = pos;
  // A position past an end shows as that end, as the platform's bar shows it (QProgressBar would
  // ignore it): the last position of an upload lies one past the range.
  if (auto* bar = qobject_cast<QProgressBar*>(control(id)))
    bar->setValue(std::clamp(pos, bar->minimum(), bar->maximum()));
}

void QtDialog::focus_control(int id) {
  pending_focus_ = id;
  if (!isVisible()) return;
  // Focus goes with activation: after a box of its own has closed, the dialog takes the keyboard back.
  activateWindow();
  apply_focus(id);
}

void QtDialog::apply_focus(int id) {
  QWidget* w = control(id);
  if (auto* a = qobject_cast<IpAddressEdit*>(w)) {
    a->focus_first();
  } else if (w) {
    w->setFocus(Qt::OtherFocusReason);
  }
}

int QtDialog::first_tab_stop() const {
  for (const ControlTemplate& c : tmpl_.controls) {
    bool focusable =
        c.kind != ControlKind::label && c.kind != ControlKind::icon && c.kind != ControlKind::bar;
    if (c.id != 0 && focusable && !(c.flags & CF_NO_TABSTOP)) return c.id;
  }
  return 0;
}

void QtDialog::show_dialog() {
  // No Qt modality, even for a modal dialog: it has no owner window, so it disables no other window;
  // its own thread waits in the dialog manager's loop.
  show();
  if (QGuiApplication::platformName() != QLatin1String("offscreen")) raise();  // offscreen has no z-order
  activateWindow();
  if (pending_focus_ != 0 || modal_)
    apply_focus(pending_focus_ != 0 ? pending_focus_ : first_tab_stop());
  else
    setFocus(Qt::OtherFocusReason);
  check_frame();  // a platform that frames the window at once sends no move for it
}

QMargins QtDialog::frame_margins() const {
  QRect inner = geometry();
  QRect outer = frameGeometry();
  return {inner.left() - outer.left(), inner.top() - outer.top(), outer.right() - inner.right(),
          outer.bottom() - inner.bottom()};
}

void QtDialog::check_frame() {
  QMargins frame = frame_margins();
  if (frame == frame_) return;
  frame_ = frame;
  emit frame_changed();
}

bool QtDialog::event(QEvent* event) {
  bool handled = QDialog::event(event);
  // A window manager frames the window some time after it was shown; the window is drawn again then,
  // and a centred one moves, since its frame takes the corner it was given.
  if ((event->type() == QEvent::Move || event->type() == QEvent::Paint) && isVisible()) check_frame();
  return handled;
}

void QtDialog::reject() {
  if (!isEnabled()) return;  // under a box of its thread, the close box does nothing either
  manager_.user_command(window_, IDCANCEL);
}

void QtDialog::keyPressEvent(QKeyEvent* event) {
  // Escape and Return answer only the dialogs that wait for an answer; in a progress window a key typed
  // ahead must not abort the upgrade, only its Cancel button and close box do.
  const int key = event->key();
  if (!modal_ && (key == Qt::Key_Escape || key == Qt::Key_Return || key == Qt::Key_Enter)) {
    event->accept();
    return;
  }
  QDialog::keyPressEvent(event);
}

}  // namespace qor::qt
