// Review tool: draws the ten dialogs offscreen with representative contents and saves one picture of
// each as <dir>/<template id>.png, then lists any text that does not fit its box. Exits 1 when a text
// is cut off, so that a font change that breaks the layout shows up in the test run.
#include <QApplication>
#include <QDir>
#include <QTextStream>

#include "base/process.h"
#include "tests/qt/sample_dialogs.h"
#include "ui/toolkit.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setQuitOnLastWindowClosed(false);
  QString dir = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("screens");
  QDir().mkpath(dir);

  qor::qt::QtToolkit gui;
  qor::set_toolkit(&gui.manager());
  std::vector<qor::Window> windows = qor::qt::test::open_sample_dialogs(gui);

  QTextStream out(stdout);
  qor::qt::BaseUnits units = gui.view().units();
  out << "dialog font " << qor::qt::dialog_font().family() << " -> "
      << QFontInfo(qor::qt::dialog_font()).family() << ", base units " << units.x << " x " << units.y
      << " px\n";
  int problems = 0;
  for (qor::Window w : windows) {
    qor::qt::QtDialog* d = gui.view().dialog(w);
    if (!d) continue;
    QString file = QStringLiteral("%1/%2.png").arg(dir, d->objectName().mid(7));
    d->grab().save(file);
    out << file << "  " << d->width() << " x " << d->height() << "  \"" << d->windowTitle() << "\"\n";
    for (const QString& p : qor::qt::test::fit_problems(*d)) {
      out << "  cut off: " << p << '\n';
      ++problems;
    }
  }
  out.flush();
  qor::set_toolkit(nullptr);
  return problems == 0 ? 0 : 1;
}
