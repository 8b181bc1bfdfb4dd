// The Qt 6 Widgets backend of the dialog manager.
//
// Widgets live on the GUI thread only, while every dialog belongs to a thread of the core (the sequence,
// a request runner, the TFTP listener). So each drawing call is posted to the GUI thread in the order it
// was made, and nothing here ever waits for the GUI thread except a message box, whose caller must wait
// for the user anyway. Sizes are computed once at start-up for the same reason, and the window
// manager's frame, which a window gets only once it is shown, is taken from the last framed window.
#pragma once

#include <QMargins>
#include <QObject>

#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "front/qt/qt_dialog.h"
#include "ui/dialog_manager.h"

namespace qor::qt {

class QtDialogView : public DialogView {
 public:
  QtDialogView();  // on the GUI thread, once the QApplication exists
  ~QtDialogView() override;

  void attach(DialogManager& manager) { manager_ = &manager; }
  BaseUnits units() const { return units_; }

  QMargins frame() const;  // what the window manager's frame adds, as the last framed window showed
  PixelSize pixel_size(const DialogTemplate& tmpl) override;
  PixelSize screen_size() override { return screen_; }
  void on_create(Window, const DialogTemplate&, bool modal) override;
  void on_show(Window) override;
  void on_destroy(Window) override;
  void on_title(Window, const std::string&) override;
  void on_text(Window, int id, const std::string&) override;
  void on_focus(Window, int id) override;
  void on_list_add(Window, int id, const std::string&) override;
  void on_list_select(Window, int id, int index) override;
  void on_progress_range(Window, int id, int low, int high) override;
  void on_progress_pos(Window, int id, int pos) override;
  void on_move(Window, int left, int top) override;
  void on_update(Window, const WindowUpdate&) override;  // title and bar in one posted event
  int message_box(Window owner, const std::string& text, const std::string& caption, unsigned flags) override;

  // GUI thread only: the widget that draws a window, or null.
  QtDialog* dialog(Window window) const;

 private:
  template <class F>
  void post(F&& work);
  template <class F>
  void post_to(Window window, F&& work);  // runs work(dialog) if the window still has one
  void show_box(Window owner, std::thread::id caller, unsigned flags, const QString& text,
                const QString& caption, std::shared_ptr<struct BoxAnswer> answer);
  std::vector<QtDialog*> windows_blocked_by_box(Window owner, std::thread::id caller, unsigned flags) const;
  void frame_changed(Window window);

  DialogManager* manager_ = nullptr;
  std::unique_ptr<QObject> context_;  // where posted work runs: the GUI thread
  BaseUnits units_;
  PixelSize screen_{1024, 768};
  mutable std::mutex frame_mutex_;
  QMargins frame_;                       // the frame of the window framed last, taken for the next ones
  std::map<Window, QtDialog*> dialogs_;  // GUI thread only
  std::map<Window, std::thread::id> owner_threads_;  // GUI thread only
};

// Every window, message boxes included, shows the program's icon: the phone's for the phone variant.
void use_program_icon(int phone_variant);

// A DialogManager drawn by Qt. Create it on the GUI thread after the QApplication, then install
// manager() with set_toolkit.
class QtToolkit {
 public:
  QtToolkit();
  DialogManager& manager() { return manager_; }
  QtDialogView& view() { return view_; }

 private:
  QtDialogView view_;
  DialogManager manager_;
};

}  // namespace qor::qt
