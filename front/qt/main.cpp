// qor-upgrade: the graphical front end. The GUI thread runs Qt's event loop and draws the dialogs; the
// upgrade runs on a thread of its own, as it ran on the program's main thread, so nothing of it waits
// for Qt.
#include <QApplication>
#include <QMetaObject>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "app/upgrade.h"
#include "base/process.h"
#include "front/qt/qt_toolkit.h"

namespace {

bool env_set(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr && value[0] != '\0';
}

// Qt aborts when it finds no display; say something a user can act on instead.
bool display_available(int argc, char** argv) {
  if (env_set("DISPLAY") || env_set("WAYLAND_DISPLAY") || env_set("QT_QPA_PLATFORM")) return true;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "-platform") == 0) return true;
  }
  return false;
}

const char* const usage_text =
    "Usage: qor-upgrade [--loopback-addresses]\n"
    "Upgrades the firmware of a QOR on the local network with the image this program carries, in a\n"
    "series of windows: the QOR's address, what it reports, the upload and the check of its new version.\n"
    "\n"
    "  --loopback-addresses   offer this PC's loopback addresses too (for a QOR simulated on this PC)\n"
    "  --help, --version\n"
    "Qt's own options (-platform, -style, ...) are accepted as well.\n"
    "\n"
    "Exit status: 0 when the run ends (its outcome is shown in a window), 1 no display, 2 usage error.\n"
    "The image is served by TFTP from UDP port 69 (or the next free one up to 168): this needs\n"
    "root or the capability CAP_NET_BIND_SERVICE.\n";

// --help and --version are answered before Qt starts, so they need no display.
bool answer_help_or_version(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
      std::fputs(usage_text, stdout);
      return true;
    }
    if (std::strcmp(argv[i], "--version") == 0) {
      std::puts("qor-upgrade 1.0.0");
      return true;
    }
  }
  return false;
}

bool parse_options(int argc, char** argv, qor::StartupOptions& options) {
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--loopback-addresses") == 0) {
      options.loopback_addresses = true;
    } else {
      std::fprintf(stderr, "qor-upgrade: unknown option %s\nTry 'qor-upgrade --help'.\n", argv[i]);
      return false;
    }
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (answer_help_or_version(argc, argv)) return 0;
  if (!display_available(argc, argv)) {
    std::fputs("qor-upgrade needs a graphical display; for the command line use qor-upgrade-cli\n", stderr);
    qor::end_process(1);
  }
  QApplication app(argc, argv);  // takes Qt's own options out of argv
  qor::StartupOptions options;
  if (!parse_options(argc, argv, options)) qor::end_process(2);
  // The run has no main window; closing one dialog must not end it.
  QApplication::setQuitOnLastWindowClosed(false);

  qor::qt::QtToolkit gui;
  qor::set_toolkit(&gui.manager());
  static qor::UpgradeRun run;
  qor::start_core_thread([&app, options] {
    qor::upgrade_main(run, options);
    QMetaObject::invokeMethod(
        &app, [] { QCoreApplication::quit(); }, Qt::QueuedConnection);
  });
  app.exec();
  qor::end_process(0);
}
