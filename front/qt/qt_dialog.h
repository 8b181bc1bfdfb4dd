// One dialog template drawn with Qt Widgets. Lives on the GUI thread; what the user does goes to the
// dialog manager, which hands it to the window's owner thread.
#pragma once

#include <QDialog>
#include <QFont>
#include <QMargins>

#include <map>
#include <string>

#include "ui/dialog_manager.h"

class QComboBox;
class QProgressBar;

namespace qor::qt {

// Dialog units to pixels, from the dialog font: x * x_unit / 4 and y * y_unit / 8, rounded.
struct BaseUnits {
  int x = 6, y = 13;
  int px_x(int dlu) const;
  int px_y(int dlu) const;
};

BaseUnits base_units_of(const QFont& font);
QFont dialog_font();
// "\r\n" as the texts carry them, to the "\n" Qt shows as a line break.
QString display_text(const std::string& text);

class QtDialog : public QDialog {
  Q_OBJECT

 public:
  QtDialog(DialogManager& manager, Window window, const DialogTemplate& tmpl, bool modal, BaseUnits units);

  Window handle() const { return window_; }
  QWidget* control(int id) const;

  void set_title(const QString& title);
  void set_control_text(int id, const std::string& text);
  void add_list_item(int id, const std::string& text);
  void select_list_item(int id, int index);
  void set_progress_range(int id, int low, int high);
  void set_progress_pos(int id, int pos);
  void focus_control(int id);
  void show_dialog();
  // What the window manager's frame adds on each side; nothing until the window has one.
  QMargins frame_margins() const;

 signals:
  void frame_changed();  // the window got its frame, or a new one

 protected:
  bool event(QEvent* event) override;
  void reject() override;  // Escape and the close box
  void keyPressEvent(QKeyEvent* event) override;

 private:
  void build(const DialogTemplate& tmpl);
  QWidget* make_control(const ControlTemplate& c);
  QWidget* make_text(const ControlTemplate& c);
  QWidget* make_single_line(const ControlTemplate& c);
  QWidget* make_button(const ControlTemplate& c);
  QWidget* make_label(const ControlTemplate& c);
  QWidget* make_icon(const ControlTemplate& c);
  QWidget* make_list(const ControlTemplate& c);
  QWidget* make_address(const ControlTemplate& c);
  QWidget* make_bar(const ControlTemplate& c);
  QRect pixels(const DlgRect& r) const;
  void apply_focus(int id);
  int first_tab_stop() const;
  void check_frame();

  DialogManager& manager_;
  Window window_;
  BaseUnits units_;
  bool modal_;
  const DialogTemplate& tmpl_;
  std::map<int, QWidget*> controls_;
  std::map<int, int> positions_;  // last position of each bar, applied again after a range change
  int pending_focus_ = 0;
  QMargins frame_;  // as last reported
};

}  // namespace qor::qt
