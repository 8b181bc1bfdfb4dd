#include "front/qt/ip_address_edit.h"

#include <QApplication>
#include <QClipboard>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QStringList>
#include <QValidator>

namespace qor::qt {

namespace {

constexpr int FIELD_COUNT = 4;

// Lets through up to three digits, whatever their value: a part above 255 stays as typed, so that the
// check on OK refuses it instead of the field turning the address into another one.
class PartValidator : public QValidator {
 public:
  using QValidator::QValidator;
  State validate(QString& input, int&) const override {
    if (input.isEmpty()) return Acceptable;
    if (input.size() > 3) return Invalid;
    for (QChar c : input) {
      if (!c.isDigit() || c.unicode() > '9') return Invalid;
    }
    return Acceptable;
  }
};

bool is_part(const QString& part) {
  int pos = 0;
  QString copy = part;
  return !part.isEmpty() && PartValidator().validate(copy, pos) == QValidator::Acceptable;
}

}  // namespace

IpAddressEdit::IpAddressEdit(QWidget* parent) : QFrame(parent) {
  // Looks like one sunken edit box that holds the four fields and their dots.
  setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
  setBackgroundRole(QPalette::Base);
  setAutoFillBackground(true);
  auto* layout = new QHBoxLayout(this);
  layout->setContentsMargins(2, 0, 2, 0);
  layout->setSpacing(0);
  for (int i = 0; i < FIELD_COUNT; ++i) {
    if (i > 0) {
      auto* dot = new QLabel(QStringLiteral("."), this);
      dot->setBackgroundRole(QPalette::Base);
      layout->addWidget(dot);
    }
    auto* field = new QLineEdit(this);
    field->setObjectName(QStringLiteral("octet_%1").arg(i));
    field->setFrame(false);
    field->setAlignment(Qt::AlignCenter);
    field->setMaxLength(3);
    field->setValidator(new PartValidator(field));
    field->installEventFilter(this);
    connect(field, &QLineEdit::textEdited, this, [this, i] { field_edited(i); });
    fields_[static_cast<std::size_t>(i)] = field;
    layout->addWidget(field, 1);
  }
}

QString IpAddressEdit::text() const {
  QStringList parts;
  bool any = false;
  for (QLineEdit* f : fields_) {
    parts << f->text();
    any = any || !f->text().isEmpty();
  }
  return any ? parts.join(QLatin1Char('.')) : QString();
}

void IpAddressEdit::set_text(const QString& text) {
  QStringList parts = text.split(QLatin1Char('.'));
  for (int i = 0; i < FIELD_COUNT; ++i) {
    QString part = i < parts.size() ? parts[i].trimmed() : QString();
    field(i)->setText(is_part(part) ? QString::number(part.toInt()) : QString());
  }
}

void IpAddressEdit::focus_first() {
  field(0)->setFocus(Qt::OtherFocusReason);
  field(0)->selectAll();
}

int IpAddressEdit::index_of(QObject* object) const {
  for (int i = 0; i < FIELD_COUNT; ++i) {
    if (fields_[static_cast<std::size_t>(i)] == object) return i;
  }
  return -1;
}

void IpAddressEdit::move_to(int index, bool at_end) {
  if (index < 0 || index >= FIELD_COUNT) return;
  QLineEdit* f = field(index);
  f->setFocus(Qt::OtherFocusReason);
  if (at_end) {
    f->deselect();
    f->end(false);
  } else {
    f->selectAll();
  }
}

void IpAddressEdit::field_edited(int index) {
  QLineEdit* f = field(index);
  // A complete byte moves on, as typing a whole address without dots expects.
  if (f->text().size() == 3 && f->cursorPosition() == 3) move_to(index + 1, false);
  emit edited(text());
}

void IpAddressEdit::paste_dotted(int index) {
  QString pasted = QApplication::clipboard()->text().trimmed();
  if (!pasted.contains(QLatin1Char('.'))) {
    field(index)->paste();
    return;
  }
  set_text(pasted);
  move_to(FIELD_COUNT - 1, true);
  emit edited(text());
}

bool IpAddressEdit::handle_key(int index, QKeyEvent* key) {
  QLineEdit* f = field(index);
  bool no_selection = !f->hasSelectedText();
  if (key->matches(QKeySequence::Paste)) {
    paste_dotted(index);
    return true;
  }
  switch (key->key()) {
    case Qt::Key_Period:
    case Qt::Key_Space:
      if (!f->text().isEmpty() && no_selection) move_to(index + 1, false);
      return true;
    case Qt::Key_Backspace:
      if (f->cursorPosition() == 0 && no_selection && index > 0) {
        move_to(index - 1, true);
        return true;
      }
      return false;
    case Qt::Key_Left:
      if (f->cursorPosition() == 0 && no_selection && index > 0) {
        move_to(index - 1, true);
        return true;
      }
      return false;
    case Qt::Key_Right:
      if (f->cursorPosition() == f->text().size() && no_selection && index + 1 < FIELD_COUNT) {
        move_to(index + 1, false);
        return true;
      }
      return false;
    default:
      return false;
  }
}

bool IpAddressEdit::eventFilter(QObject* watched, QEvent* event) {
  int index = index_of(watched);
  if (index >= 0 && event->type() == QEvent::KeyPress) {
    if (handle_key(index, static_cast<QKeyEvent*>(event))) return true;
  }
  return QFrame::eventFilter(watched, event);
}

}  // namespace qor::qt
