// An IPv4 address entry of four small numeric fields, read back as dotted text.
#pragma once

#include <QFrame>
#include <QString>

#include <array>

class QLineEdit;

namespace qor::qt {

class IpAddressEdit : public QFrame {
  Q_OBJECT

 public:
  explicit IpAddressEdit(QWidget* parent = nullptr);

  // "a.b.c.d" with empty fields left empty ("10.1..13"); "" when nothing has been typed, so that a blank
  // field is never taken for a 0.
  QString text() const;
  // Spreads a dotted text over the four fields; parts that are not numbers of one to three digits leave
  // their field empty.
  void set_text(const QString& text);
  void focus_first();
  QLineEdit* field(int index) const { return fields_[static_cast<std::size_t>(index)]; }

 signals:
  // The user changed the address (typing, deleting, pasting); never emitted for set_text.
  void edited(const QString& text);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  int index_of(QObject* field) const;
  void move_to(int index, bool at_end);
  bool handle_key(int index, class QKeyEvent* key);
  void paste_dotted(int index);
  void field_edited(int index);

  std::array<QLineEdit*, 4> fields_{};
};

}  // namespace qor::qt
