#include "tests/qt/sample_dialogs.h"

#include <QApplication>
#include <QFontMetrics>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QtTest>

#include <chrono>
#include <thread>

#include "ui/dialog_templates.h"

namespace qor::qt::test {

namespace {

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
    windows.push_back(qor::test::open_sample_dialog(gui.manager(), t.id));
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
